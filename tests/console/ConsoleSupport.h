#ifndef TAVLO_CONSOLESUPPORT_H
#define TAVLO_CONSOLESUPPORT_H

// Helpers for the console's tests: the console as a process driven through
// its standard input. (Its groups' namespaces, tsupport::GroupNet, and the
// terminals, tsupport::Terminal, are shared: tests/support.)

#include "TestSupport.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace csupport {

QString consolePath();  // the built tavlo-console
QString announcerPath();  // the built tavlo-test-announcer

// A folder of its own for the console's configuration (its classroom key),
// made before the process starts.
class ConfigHome {
protected:
    QTemporaryDir configHome_;
};

// A running tavlo-console --stdin: a process like a terminal (stdout in a
// file, never a full pipe) that takes commands on its stdin. Its classroom
// key is made in a folder of its own unless env names one (XDG_CONFIG_HOME),
// never in the user's.
class ConsoleProcess : private ConfigHome, public tsupport::Terminal {
public:
    ConsoleProcess(const QProcessEnvironment& env, const QStringList& args = {});

    // Writes one command line and returns every output line after it up to
    // and including the first that starts with one of the answers' starts
    // ("sent", "error", "end", "saved"); empty on time-out.
    QStringList ask(const QString& line, int timeoutMs);
    // The "row ..." lines of a "list" answer.
    QStringList rows(int timeoutMs);
};

}  // namespace csupport

#endif
