#ifndef TAVLO_CLASSROOM_H
#define TAVLO_CLASSROOM_H

#include <cstdint>

// What the terminals, the host tool and the console agree on over the wire.
// Every program of the classroom takes these from here, so a port or a name
// is written once.
namespace Classroom {

// UDP: announcements go to this port on the host, commands arrive on it at
// every terminal.
constexpr uint16_t CLASSROOM_PORT = 55555;
// TCP: every terminal's RTSP server of its own screen, announced as "livePort".
constexpr uint16_t LIVE_PORT = 5000;
// TCP: the same server tunnelled over HTTP.
constexpr uint16_t HTTP_TUNNEL_PORT = 8080;
// The one stream every terminal serves: rtsp://ADDRESS:5000/cam_passby_chn0.
constexpr const char* STREAM_NAME = "cam_passby_chn0";
// The same screen small (at most THUMBNAIL_MAX_WIDTH pixels wide, its aspect
// kept) and about once a second, for the console's thumbnails:
// rtsp://ADDRESS:5000/cam_passby_chn1. Watching it is not being shown.
constexpr const char* THUMBNAIL_STREAM_NAME = "cam_passby_chn1";
constexpr int THUMBNAIL_MAX_WIDTH = 480;
constexpr int THUMBNAIL_INTERVAL_MS = 1000;

// "messageId" values.
constexpr int MSG_ANNOUNCE = 0;  // terminal -> host, once a second: "id", "livePort", "systemType"
constexpr int MSG_STOP = 1;      // host -> terminal: stop showing a stream
constexpr int MSG_SHOW = 2;      // host -> terminal: show "groupId"'s screen, served at "ip"
constexpr int MSG_LOCK = 16;     // host -> terminal: cover the screen with a card saying "text", take the input
constexpr int MSG_UNLOCK = 17;   // host -> terminal: give the desktop back
// The lock card's text when the command names none ("look at the teacher"),
// and the most characters of a text that the card shows.
constexpr const char* LOCK_TEXT_DEFAULT = "请看老师";
constexpr int LOCK_TEXT_MAX = 200;
// "systemType" of a group terminal's announcement.
constexpr int SYSTEM_TYPE_TERMINAL = 1;

// The shared screen's H.264 bit rate, in bits per second, and as the session
// description announces it (b=AS, kbit/s).
constexpr int BIT_RATE_BPS = 4000000;
constexpr unsigned BANDWIDTH_KBPS = BIT_RATE_BPS / 1000;

}  // namespace Classroom

#endif
