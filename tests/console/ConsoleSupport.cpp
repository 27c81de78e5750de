#include "ConsoleSupport.h"

#include <QDeadlineTimer>
#include <QDir>

namespace csupport {

QString consolePath() { return tsupport::buildDir() + "/tavlo-console"; }
QString announcerPath() { return tsupport::buildDir() + "/tavlo-test-announcer"; }

// The caller's environment, with XDG_CONFIG_HOME set to home unless it names one.
static QProcessEnvironment withConfigHome(QProcessEnvironment env, const QString& home)
{
    if (!env.contains("XDG_CONFIG_HOME"))
        env.insert("XDG_CONFIG_HOME", home);
    return env;
}

ConsoleProcess::ConsoleProcess(const QProcessEnvironment& env, const QStringList& args)
    : tsupport::Terminal(QDir::tempPath(), withConfigHome(env, configHome_.path()), QStringList{"--stdin"} + args,
                         consolePath())
{
}

QStringList ConsoleProcess::ask(const QString& line, int timeoutMs)
{
    const int from = out().size();
    if (!writeInput((line + "\n").toUtf8()))
        return {};
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const QList<QByteArray> lines = out().mid(from).split('\n');
        QStringList got;
        // The last piece has no newline yet: not a whole line.
        for (int i = 0; i + 1 < lines.size(); ++i) {
            const QString l = QString::fromUtf8(lines[i]);
            got << l;
            for (const char* end : {"sent", "error", "end", "saved"})
                if (l.startsWith(end))
                    return got;
        }
        if (deadline.hasExpired() || !running())
            return {};
        poll();
    }
}

QStringList ConsoleProcess::rows(int timeoutMs)
{
    QStringList out;
    for (const QString& l : ask("list", timeoutMs))
        if (l.startsWith("row "))
            out << l;
    return out;
}

}  // namespace csupport
