#pragma once

#include <QObject>

// An observable value between a fixed lower and a movable upper bound. Every
// long operation reports through one, and the pages draw its ratio. It neither
// clamps nor validates: a value past the bounds gives a ratio outside 0..1.
class Progress : public QObject
{
    Q_OBJECT
    Q_PROPERTY(double from READ from CONSTANT)
    Q_PROPERTY(double to READ to NOTIFY toChanged)
    Q_PROPERTY(double value READ value NOTIFY valueChanged)
    Q_PROPERTY(double ratio READ ratio NOTIFY valueChanged)

public:
    explicit Progress(QObject *parent = nullptr, double from = 0.0, double to = 1.0);

    [[nodiscard]] double from() const { return m_from; }
    [[nodiscard]] double to() const { return m_to; }
    [[nodiscard]] double value() const { return m_value; }
    [[nodiscard]] double ratio() const;

    void setTo(double v);
    void setValue(double v);
    // Maps a count of done units out of a total onto the range.
    void setValue(double v, double outOf);

public slots:
    void update(double value);
    void reset();

signals:
    void valueChanged();
    void toChanged();

private:
    const double m_from;
    double m_to;
    double m_value;
};
