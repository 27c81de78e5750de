#ifndef TAVLO_QSYSCONFIG_H
#define TAVLO_QSYSCONFIG_H

#include <QObject>
#include <QString>
#include <cstdint>

// The two settings of a group terminal, read once at start-up from "team.bin"
// (JSON) in the working directory. A missing file is written with defaults and
// start-up stops so that the next start runs with them.
class QSysConfig : public QObject {
    Q_OBJECT
public:
    // Throws std::runtime_error "Config file NOT exist!" (after writing the
    // default file) or "Write Config File ERROR" (also for a team.bin that is
    // not a regular file: a FIFO, a device or a directory, and for one whose
    // "teamNum" is missing or not an integer from 1 to 2^31 - 1, which also
    // covers text that is not a JSON object). Never blocks. A "roomIp" that
    // is missing or no string reads as "".
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
};

extern QSysConfig* SysConfig;

#endif
