#ifndef TAVLO_QSYSCONFIG_H
#define TAVLO_QSYSCONFIG_H

#include "ClassroomKey.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <vector>

// The two settings of a group terminal, read once at start-up from "team.bin"
// (JSON) in the working directory. A missing file is written with defaults and
// start-up stops so that the next start runs with them. The installed
// terminal reads /etc/tavlo/team.bin instead, which it never writes. An
// optional third setting, "hostKey", names the classroom key (or a list of
// keys) whose signed commands alone the terminal obeys.
class QSysConfig : public QObject {
    Q_OBJECT
public:
    // What the store does when there is no file at fileName.
    enum class MissingFile {
        WriteDefault,  // write the default file, then fail
        Fail,          // fail, writing nothing: a folder the administrator keeps
    };

    // Throws std::runtime_error "Config file NOT exist!" (after writing the
    // default file, unless told not to) or "Write Config File ERROR" (also
    // for a team.bin that is not a regular file: a FIFO, a device or a
    // directory, for one whose "teamNum" is missing or not an integer from 1
    // to 2^31 - 1, which also covers text that is not a JSON object, and for
    // a "hostKey" that is not a key or a non-empty list of keys). Never
    // blocks. A "roomIp" that is missing or no string reads as "".
    QSysConfig(QObject* parent, QString fileName, MissingFile missing = MissingFile::WriteDefault);

    // Writes the default configuration; throws "Write Config File ERROR".
    void save();

    uint64_t SchoolId = 0;
    QString SchoolTitle;
    QString Host;
    uint64_t RoomId = 0;
    QString RoomIp;
    uint64_t TeamId = 0;
    uint32_t TeamNum = 0;
    QString LocalIp;
    QString fileName;
    // "hostKey": the keys that sign the commands; empty when the file names
    // none (commands are then not authenticated).
    std::vector<PublicKey> HostKeys;
};

extern QSysConfig* SysConfig;

#endif
