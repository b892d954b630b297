#pragma once

// Timing and reporting shared by the benchmarks.

#include <QElapsedTimer>
#include <QString>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <vector>

namespace Merchalog::Bench {

inline QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The median wall-clock time of work over runs, in milliseconds.
inline double timeMs(const std::function<void()> &work, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return median(times);
}

// Prints one target's outcome and counts the missed ones.
class Verdict
{
public:
    void check(bool ok, const QString &what)
    {
        out() << (ok ? "  ok    " : "  MISSED ") << what << '\n';
        if (!ok)
            ++m_failures;
    }
    int finish()
    {
        out() << (m_failures == 0 ? "all targets met\n" : "some targets missed\n");
        out().flush();
        return m_failures == 0 ? 0 : 1;
    }

private:
    int m_failures = 0;
};

} // namespace Merchalog::Bench
