#pragma once

// A program a test has started, run to its end.

#include <QByteArray>
#include <QProcess>

namespace testfiles {

struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

// Its exit code and output; code -1 when it did not end normally within
// the time (ms).
inline Run Finished(QProcess& process, int timeout)
{
    Run run;
    if (!process.waitForFinished(timeout) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.code = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

}  // namespace testfiles
