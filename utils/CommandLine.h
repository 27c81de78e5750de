#ifndef TAVLO_COMMANDLINE_H
#define TAVLO_COMMANDLINE_H

// The command line of one of Tavlo's programs. A program describes itself
// once: its name, what it is, its synopsis, its options and its files. That
// one description answers --help and --version and parses the arguments, so
// the help lists exactly the options the program takes.
//
//   CommandLine cl("tavlo", "the group terminal of a classroom");
//   cl.addOption("--quiet", "leave out screen sharing's per-frame lines");
//   cl.addOption("--config-dir", "read team.bin from DIR", "DIR");
//   cl.addFile("team.bin", "the configuration");
//   if (cl.answerHelpOrVersion(argc, argv))   // before opening the display
//       return 0;
//   QApplication app(argc, argv);              // takes Qt's own options out
//   if (!cl.parse(app.arguments().mid(1))) {
//       std::fputs(qPrintable(cl.errorText()), stderr);
//       return 2;
//   }
//   if (cl.isSet("--quiet")) ...
//
// Every program takes "-h", "--help" and "--version" as well. Options are
// "--name", "--name VALUE" or "--name=VALUE"; each may be given once.
// Arguments that are no options are refused. Not thread-safe; a program
// uses its one CommandLine from main().

#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

class CommandLine {
public:
    // How an option takes its value.
    enum Value {
        NoValue,        // a flag
        RequiredValue,  // "--name VALUE" or "--name=VALUE"
        OptionalValue,  // "--name [VALUE]": the next argument, unless it starts with '-'
    };

    // name: the program's name ("tavlo"); summary: what it is, one sentence.
    CommandLine(const QString& name, const QString& summary);

    // One synopsis line after the program's name ("[OPTION]..."); without
    // any, the help says "[OPTION]...".
    void addUsage(const QString& line);
    // valueName is what the help calls the value ("DIR"); empty for a flag.
    void addOption(const QString& name, const QString& help, const QString& valueName = QString(),
                   Value value = NoValue);
    // A file or folder the program reads or writes, for the help's "Files".
    void addFile(const QString& path, const QString& help);

    // The synopsis: "usage: <name> <line>", further lines aligned under it.
    QString usageText() const;
    // The answer to --help: usage, summary, one line per option, the files.
    QString helpText() const;
    // The answer to --version: "<name> <version>\n".
    QString versionText() const;
    // The version of every Tavlo program: CMake's project(VERSION).
    static QString version();

    // argv (argv[0] is the program) holds "-h", "--help" or "--version":
    // prints the answer on standard output and returns true. Needs no
    // QCoreApplication.
    bool answerHelpOrVersion(int argc, char** argv) const;

    // Parses args (without the program's name). False on an unknown option,
    // a missing value, a value given to a flag, an option given twice or an
    // argument that is no option; errorText() then says which.
    bool parse(const QStringList& args);
    bool isSet(const QString& name) const { return m_values.contains(name); }
    // The option's value; empty for a flag, an option not given, or an
    // optional value left out.
    QString value(const QString& name) const { return m_values.value(name); }
    // "<name>: <what is wrong>\nTry '<name> --help' for more information.\n"
    QString errorText() const;

private:
    struct Option {
        QString name;
        QString help;
        QString valueName;
        Value value;
    };
    const Option* find(const QString& name) const;

    QString m_name;
    QString m_summary;
    QStringList m_usage;
    QVector<Option> m_options;
    QVector<QPair<QString, QString>> m_files;  // path, help
    QMap<QString, QString> m_values;           // options given, by name
    QString m_error;                           // why the last parse failed
};

#endif
