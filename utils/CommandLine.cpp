#include "CommandLine.h"

#include <cstdio>
#include <cstring>

namespace {

const QString HELP = QStringLiteral("--help");
const QString VERSION = QStringLiteral("--version");

// Two columns, the second one aligned: "  left   right".
QString table(const QVector<QPair<QString, QString>>& rows)
{
    int width = 0;
    for (const auto& row : rows)
        width = qMax(width, row.first.size());
    QString text;
    for (const auto& row : rows)
        text += QStringLiteral("  ") + row.first.leftJustified(width + 2) + row.second + QLatin1Char('\n');
    return text;
}

}  // namespace

CommandLine::CommandLine(const QString& name, const QString& summary) : m_name(name), m_summary(summary) {}

void CommandLine::addUsage(const QString& line)
{
    m_usage.append(line);
}

void CommandLine::addOption(const QString& name, const QString& help, const QString& valueName, Value value)
{
    Q_ASSERT(name.startsWith(QLatin1String("--")) && find(name) == nullptr);
    Q_ASSERT((value == NoValue) == valueName.isEmpty());
    m_options.append({name, help, valueName, value});
}

void CommandLine::addFile(const QString& path, const QString& help)
{
    m_files.append({path, help});
}

QString CommandLine::version()
{
    return QStringLiteral(TAVLO_VERSION);
}

QString CommandLine::usageText() const
{
    QString text;
    const QStringList usage = m_usage.isEmpty() ? QStringList{QStringLiteral("[OPTION]...")} : m_usage;
    for (int i = 0; i < usage.size(); ++i)
        text += (i == 0 ? QStringLiteral("usage: ") : QStringLiteral("       ")) + m_name + QLatin1Char(' ') +
                usage[i] + QLatin1Char('\n');
    return text;
}

QString CommandLine::helpText() const
{
    QString text = usageText() + m_summary + QStringLiteral("\n\nOptions:\n");
    QVector<QPair<QString, QString>> rows;
    for (const Option& o : m_options) {
        QString left = o.name;
        if (o.value == RequiredValue)
            left += QLatin1Char(' ') + o.valueName;
        else if (o.value == OptionalValue)
            left += QStringLiteral(" [") + o.valueName + QLatin1Char(']');
        rows.append({left, o.help});
    }
    rows.append({QStringLiteral("-h, ") + HELP, QStringLiteral("print this help and exit")});
    rows.append({VERSION, QStringLiteral("print the version and exit")});
    text += table(rows);
    if (!m_files.isEmpty())
        text += QStringLiteral("\nFiles:\n") + table(m_files);
    return text;
}

QString CommandLine::versionText() const
{
    return m_name + QLatin1Char(' ') + version() + QLatin1Char('\n');
}

bool CommandLine::answerHelpOrVersion(int argc, char** argv) const
{
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
            std::fputs(helpText().toLocal8Bit().constData(), stdout);
            return true;
        }
        if (std::strcmp(a, "--version") == 0) {
            std::fputs(versionText().toLocal8Bit().constData(), stdout);
            return true;
        }
    }
    return false;
}

const CommandLine::Option* CommandLine::find(const QString& name) const
{
    for (const Option& o : m_options)
        if (o.name == name)
            return &o;
    return nullptr;
}

bool CommandLine::parse(const QStringList& args)
{
    m_values.clear();
    m_error.clear();
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (!arg.startsWith(QLatin1String("--")) || arg.size() == 2) {
            m_error = QStringLiteral("unexpected argument '%1'").arg(arg);
            return false;
        }
        const int eq = arg.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? arg : arg.left(eq);
        const Option* o = find(name);
        if (o == nullptr) {
            m_error = QStringLiteral("unknown option '%1'").arg(name);
            return false;
        }
        if (m_values.contains(name)) {
            m_error = QStringLiteral("%1 given twice").arg(name);
            return false;
        }
        QString value;
        if (eq >= 0) {
            if (o->value == NoValue) {
                m_error = QStringLiteral("%1 takes no value").arg(name);
                return false;
            }
            value = arg.mid(eq + 1);
        } else if (o->value == RequiredValue) {
            if (i + 1 >= args.size()) {
                m_error = QStringLiteral("%1 needs a value (%2)").arg(name, o->valueName);
                return false;
            }
            value = args[++i];
        } else if (o->value == OptionalValue && i + 1 < args.size() && !args[i + 1].startsWith(QLatin1Char('-'))) {
            value = args[++i];
        }
        if (o->value == RequiredValue && value.isEmpty()) {
            m_error = QStringLiteral("%1 needs a value (%2)").arg(name, o->valueName);
            return false;
        }
        m_values.insert(name, value);
    }
    return true;
}

QString CommandLine::errorText() const
{
    return QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n").arg(m_name, m_error);
}
