#pragma once

#include "job.h"

class RestoreJob : public Job
{
    Q_OBJECT
public:
    explicit RestoreJob(const QString &device);
    ~RestoreJob() override;

public slots:
    void work() override;
};
