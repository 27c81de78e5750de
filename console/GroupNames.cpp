#include "GroupNames.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {
const char* const SECTION = "names";
}

GroupNames::GroupNames(const QString& path) : path_(path)
{
    if (path_.isEmpty())
        return;
    QSettings settings(path_, QSettings::IniFormat);
    settings.beginGroup(SECTION);
    for (const QString& key : settings.childKeys()) {
        bool ok = false;
        const int group = key.toInt(&ok);
        const QString name = clean(settings.value(key).toString());
        if (ok && group >= 0 && !name.isEmpty())
            names_[group] = name;
    }
}

QString GroupNames::name(int group) const
{
    const auto it = names_.find(group);
    return it == names_.end() ? QString() : it->second;
}

bool GroupNames::setName(int group, const QString& text, QString* error)
{
    const QString name = clean(text);
    if (name.isEmpty())
        names_.erase(group);
    else
        names_[group] = name;
    if (path_.isEmpty())
        return true;
    QDir().mkpath(QFileInfo(path_).path());
    QSettings settings(path_, QSettings::IniFormat);
    settings.beginGroup(SECTION);
    if (name.isEmpty())
        settings.remove(QString::number(group));
    else
        settings.setValue(QString::number(group), name);
    settings.endGroup();
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        if (error)
            *error = settings.status() == QSettings::AccessError ? "cannot write " + path_
                                                                  : "cannot understand " + path_;
        return false;
    }
    return true;
}

QString GroupNames::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/tavlo/console.conf";
}

QString GroupNames::clean(const QString& text)
{
    QString out;
    for (const QChar c : text)
        out += (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
                   ? QChar(' ')
                   : c;
    return out.simplified().left(MAX_LENGTH).trimmed();
}
