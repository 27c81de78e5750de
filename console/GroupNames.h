#ifndef TAVLO_GROUPNAMES_H
#define TAVLO_GROUPNAMES_H

#include <QString>
#include <map>

// The names the teacher gives the groups, by group number, kept in the
// console's configuration file (an INI file: section [names], one key per
// group number). A name is one line of at most MAX_LENGTH characters; an
// empty name removes the group's. Every change is written at once (atomically,
// by QSettings). GUI thread.
class GroupNames {
public:
    static constexpr int MAX_LENGTH = 40;

    // Reads path (missing: no names yet). An empty path keeps the names in
    // memory only.
    explicit GroupNames(const QString& path = QString());

    // The group's name, or empty.
    QString name(int group) const;
    // Names group (the text is cleaned: one line, MAX_LENGTH characters at
    // most, spaces trimmed). False with the reason in *error when the file
    // cannot be written; the name is kept for this run all the same.
    bool setName(int group, const QString& name, QString* error = nullptr);
    const std::map<int, QString>& all() const { return names_; }
    QString path() const { return path_; }

    // The console's configuration file beside its classroom key:
    // ~/.config/tavlo/console.conf ($XDG_CONFIG_HOME/tavlo/console.conf).
    static QString defaultPath();
    // text as a name: control characters and line breaks become spaces, runs
    // of spaces one, trimmed, cut to MAX_LENGTH.
    static QString clean(const QString& text);

private:
    QString path_;
    std::map<int, QString> names_;
};

#endif
