#include "StdinControl.h"

#include "Console.h"
#include "ConsoleWindow.h"
#include "GroupTile.h"

#include <QStringList>
#include <cstdio>
#include <unistd.h>

StdinControl::StdinControl(Console* console, ConsoleWindow* window, QObject* parent)
    : QObject(parent), console_(console), window_(window), notifier_(STDIN_FILENO, QSocketNotifier::Read)
{
    connect(&notifier_, &QSocketNotifier::activated, this, &StdinControl::onReadable);
}

static bool number(const QString& text, int* out)
{
    bool ok = false;
    *out = text.toInt(&ok);
    return ok && *out >= 0;
}

// "G" or "G,H,...": the groups; false for anything else.
static bool groupList(const QString& text, std::vector<int>* out)
{
    out->clear();
    for (const QString& part : text.split(',')) {
        int g = 0;
        if (!number(part, &g))
            return false;
        out->push_back(g);
    }
    return !out->empty();
}

QString StdinControl::execute(const QString& line)
{
    const QStringList w = line.split(' ', Qt::SkipEmptyParts);
    int n = 0, g = 0;
    std::vector<int> gs;
    if (w.size() == 1 && w[0] == "list") {
        QStringList out;
        for (const GroupRow& r : console_->rows()) {
            out << QString("row %1 %2 %3 %4 %5%6%7 %8")
                       .arg(r.group)
                       .arg(r.address.toString())
                       .arg(r.livePort)
                       .arg(r.ageMs / 1000)
                       .arg(r.gone ? "gone" : "present")
                       .arg(r.conflict ? " conflict " + r.conflict->toString() : QString())
                       .arg(r.nonce.isEmpty() ? "" : " signed")
                       .arg(GroupTile::showingText(r.showing) + (r.locked ? " locked" : ""));
        }
        out << "end";
        return out.join('\n');
    }
    if (w.size() == 1 && w[0] == "pictures") {
        QStringList out;
        for (const GroupRow& r : console_->rows()) {
            const StreamPuller::State s = console_->thumbnail(Console::key(r.group, r.address));
            out << QString("pictures %1 %2 %3 %4").arg(r.group).arg(r.address.toString()).arg(s.pictures).arg(s.error);
        }
        out << "end";
        return out.join('\n');
    }
    if (w.size() == 3 && w[0] == "thumbnail" && number(w[1], &g)) {
        const std::optional<GroupRow> r = console_->table().current(g, console_->now());
        if (!r)
            return QString("error: group %1 is not present").arg(g);
        const StreamPuller::State s = console_->thumbnail(Console::key(r->group, r->address));
        if (s.picture.isNull())
            return QString("error: group %1 has no thumbnail: %2").arg(g).arg(s.error);
        if (!s.picture.save(w[2], "PNG"))
            return "error: cannot write " + w[2];
        return "saved " + w[2];
    }
    if (w.size() == 2 && w[0] == "stream" && number(w[1], &g)) {
        const std::optional<GroupRow> r = console_->table().current(g, console_->now());
        if (!r)
            return QString("error: group %1 is not present").arg(g);
        const QString url = console_->thumbnail(Console::key(r->group, r->address)).url;
        return QString("stream %1 %2").arg(g).arg(url.isEmpty() ? "none" : url);
    }
    if (w.size() == 4 && w[0] == "show" && number(w[1], &n) && w[2] == "to") {
        if (w[3] == "all")
            return console_->showToAll(n);
        if (number(w[3], &g))
            return console_->showTo(g, n);
        if (groupList(w[3], &gs))
            return console_->showToGroups(gs, n);
    }
    if (w.size() == 2 && w[0] == "stop") {
        if (w[1] == "all")
            return console_->stopAll();
        if (number(w[1], &g))
            return console_->stop(g);
        if (groupList(w[1], &gs))
            return console_->stopGroups(gs);
    }
    if (w.size() >= 2 && (w[0] == "lock" || w[0] == "unlock") && (w[1] == "all" || groupList(w[1], &gs))) {
        if (w[1] == "all")
            gs.clear();
        if (w[0] == "unlock")
            return w.size() == 2 ? console_->unlock(gs) : "error: unlock takes no text";
        // The text as typed after the groups, inner spaces kept.
        const QString text = line.trimmed().section(' ', 2, -1, QString::SectionSkipEmpty);
        return console_->lock(gs, text);
    }
    if (w.size() >= 2 && w[0] == "name" && number(w[1], &g))
        return console_->setName(g, line.trimmed().section(' ', 2, -1, QString::SectionSkipEmpty));
    if (w.size() == 1 && w[0] == "tiles" && window_)
        return window_->describeTiles();
    return "error: unknown command '" + line +
           "' (list | show N to G|G,H|all | stop G|G,H|all | lock G|G,H|all [TEXT] | unlock G|G,H|all | "
           "name G [NAME] | pictures | stream G | thumbnail G FILE | tiles)";
}

void StdinControl::onReadable()
{
    char buf[4096];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) {
        notifier_.setEnabled(false);  // end of input: the window stays
        return;
    }
    pending_.append(buf, static_cast<int>(n));
    int nl;
    while ((nl = pending_.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(pending_.left(nl)).trimmed();
        pending_.remove(0, nl + 1);
        if (line.isEmpty())
            continue;
        std::printf("%s\n", qPrintable(execute(line)));
        std::fflush(stdout);
    }
}
