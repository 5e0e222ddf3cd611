#include "progress.h"

Progress::Progress(QObject *parent, double from, double to)
    : QObject(parent)
    , m_from(from)
    , m_to(to)
    , m_value(from)
{
    // The ratio depends on both bounds, so a new upper bound is a new value too.
    connect(this, &Progress::toChanged, this, &Progress::valueChanged);
}

double Progress::ratio() const
{
    return (m_value - m_from) / (m_to - m_from);
}

void Progress::setTo(double v)
{
    // A NaN never compares equal, so it is announced every time.
    if (m_to == v)
        return;
    m_to = v;
    emit toChanged();
}

void Progress::setValue(double v)
{
    if (m_value == v)
        return;
    m_value = v;
    emit valueChanged();
}

void Progress::setValue(double v, double outOf)
{
    setValue(m_from + v / outOf * (m_to - m_from));
}

void Progress::update(double value)
{
    setValue(value);
}

void Progress::reset()
{
    update(m_from);
}
