#include "StdinControl.h"

#include "Console.h"
#include "GroupTile.h"

#include <QStringList>
#include <cstdio>
#include <unistd.h>

StdinControl::StdinControl(Console* console, QObject* parent)
    : QObject(parent), console_(console), notifier_(STDIN_FILENO, QSocketNotifier::Read)
{
    connect(&notifier_, &QSocketNotifier::activated, this, &StdinControl::onReadable);
}

static bool number(const QString& text, int* out)
{
    bool ok = false;
    *out = text.toInt(&ok);
    return ok && *out >= 0;
}

QString StdinControl::execute(const QString& line)
{
    const QStringList w = line.split(' ', Qt::SkipEmptyParts);
    int n = 0, g = 0;
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
                       .arg(GroupTile::showingText(r.showing));
        }
        out << "end";
        return out.join('\n');
    }
    if (w.size() == 1 && w[0] == "pictures") {
        QStringList out;
        for (const GroupRow& r : console_->rows()) {
            const ThumbnailPuller::State s = console_->thumbnail(Console::key(r.group, r.address));
            out << QString("pictures %1 %2 %3 %4").arg(r.group).arg(r.address.toString()).arg(s.pictures).arg(s.error);
        }
        out << "end";
        return out.join('\n');
    }
    if (w.size() == 3 && w[0] == "thumbnail" && number(w[1], &g)) {
        const std::optional<GroupRow> r = console_->table().current(g, console_->now());
        if (!r)
            return QString("error: group %1 is not present").arg(g);
        const ThumbnailPuller::State s = console_->thumbnail(Console::key(r->group, r->address));
        if (s.picture.isNull())
            return QString("error: group %1 has no thumbnail: %2").arg(g).arg(s.error);
        if (!s.picture.save(w[2], "PNG"))
            return "error: cannot write " + w[2];
        return "saved " + w[2];
    }
    if (w.size() == 4 && w[0] == "show" && number(w[1], &n) && w[2] == "to") {
        if (w[3] == "all")
            return console_->showToAll(n);
        if (number(w[3], &g))
            return console_->showTo(g, n);
    }
    if (w.size() == 2 && w[0] == "stop") {
        if (w[1] == "all")
            return console_->stopAll();
        if (number(w[1], &g))
            return console_->stop(g);
    }
    return "error: unknown command '" + line + "' (list | show N to G|all | stop G|all | pictures | thumbnail G FILE)";
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
