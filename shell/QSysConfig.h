#ifndef TAVLO_QSYSCONFIG_H
#define TAVLO_QSYSCONFIG_H

#include "ClassroomKey.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <vector>

// The two settings of a group terminal, read once at start-up from "team.bin"
// (JSON) in the working directory. A missing file is written with defaults and
// start-up stops so that the next start runs with them. An optional third,
// "hostKey", names the classroom key (or a list of keys) whose signed
// commands alone the terminal obeys.
class QSysConfig : public QObject {
    Q_OBJECT
public:
    // Throws std::runtime_error "Config file NOT exist!" (after writing the
    // default file) or "Write Config File ERROR" (also for a team.bin that is
    // not a regular file: a FIFO, a device or a directory, and for a
    // "hostKey" that is not a key or a non-empty list of keys). Never blocks.
    QSysConfig(QObject* parent, QString fileName);

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
