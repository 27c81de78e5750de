// The console's widgets offscreen, without a network: what a tile says for a
// group (gone, a conflicting address, what it shows, whether its commands
// are signed), its menu of other groups, a refusal reaching the window's
// status line, and the "Classroom key" window with its export and import.
#include "ClassroomKeyWindow.h"
#include "Console.h"
#include "ConsoleWindow.h"
#include "GroupTile.h"

#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <sys/stat.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

GroupRow row(int group, const char* address, bool gone = false, const char* conflict = nullptr,
             std::optional<int> showing = std::nullopt, const QString& nonce = QString())
{
    GroupRow r;
    r.group = group;
    r.address = QHostAddress(address);
    r.livePort = 5000;
    r.ageMs = gone ? 6000 : 1200;
    r.gone = gone;
    if (conflict)
        r.conflict = QHostAddress(conflict);
    r.nonce = nonce;
    r.showing = showing;
    return r;
}

QStringList labels(const QWidget& w)
{
    QStringList out;
    for (const QLabel* l : w.findChildren<QLabel*>())
        out << l->text();
    return out;
}

TEST(GroupTile, SaysWhatTheRowSays)
{
    Console console;
    GroupTile tile(&console);
    tile.setRow(row(3, "10.0.0.3", false, nullptr, 2), {1, 2, 3});
    QStringList text = labels(tile);
    EXPECT_TRUE(text.contains("Group 3"));
    EXPECT_TRUE(text.contains("10.0.0.3:5000, 1 s ago"));
    EXPECT_TRUE(text.contains("shows group 2"));
    EXPECT_TRUE(text.contains("commands not authenticated"));
    EXPECT_FALSE(text.join('\n').contains("also announced by"));
    EXPECT_TRUE(tile.isEnabled());
    // The menu offers the other present groups, not this one.
    const QComboBox* menu = tile.findChild<QComboBox*>();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->count(), 3);
    EXPECT_EQ(menu->itemData(1).toInt(), 1);
    EXPECT_EQ(menu->itemData(2).toInt(), 2);

    tile.setRow(row(3, "10.0.0.3", true), {1, 2});
    text = labels(tile);
    EXPECT_TRUE(text.contains("Group 3  (gone)"));
    EXPECT_TRUE(text.contains("shows nothing"));
    EXPECT_FALSE(tile.isEnabled());  // no commands for a gone group

    tile.setRow(row(3, "10.0.0.3", false, "10.0.0.66", 0, "bm9uY2Vub25jZW5vbmNlMQ=="), {1, 2, 3});
    EXPECT_TRUE(labels(tile).contains("Group 3  CONFLICT"));
    EXPECT_TRUE(labels(tile).contains("also announced by 10.0.0.66: ignored"));
    EXPECT_TRUE(labels(tile).contains("10.0.0.3:5000, 1 s ago"));  // still the first address
    EXPECT_TRUE(labels(tile).contains("shows the teacher"));
    EXPECT_TRUE(labels(tile).contains("commands signed"));
}

TEST(GroupTile, ThumbnailOrTheReasonForNone)
{
    Console console;
    GroupTile tile(&console);
    tile.setThumbnail(QImage(), "cannot open: Connection refused, retrying");
    EXPECT_TRUE(labels(tile).contains("cannot open: Connection refused, retrying"));
    QImage img(Console::THUMB_W, Console::THUMB_H, QImage::Format_RGB888);
    img.fill(Qt::red);
    tile.setThumbnail(img, QString());
    EXPECT_FALSE(labels(tile).contains("cannot open: Connection refused, retrying"));
}

TEST(ConsoleWindow, RefusedCommandIsShownInTheStatusLine)
{
    Console console;
    ConsoleWindow window(&console);
    QPushButton* teacherAll = nullptr;
    for (QPushButton* b : window.findChildren<QPushButton*>())
        if (b->text() == "Teacher to all")
            teacherAll = b;
    ASSERT_NE(teacherAll, nullptr);
    teacherAll->click();  // no group is present
    EXPECT_TRUE(labels(window).contains("error: no group is present"));
}

TEST(ClassroomKeyWindow, ShowsTheKeyAndExportsAndImportsKeyPairs)
{
    QTemporaryDir dir;
    std::array<unsigned char, 32> seed;
    seed.fill(4);
    const ClassroomKey mine = ClassroomKey::fromSeed(seed);
    seed.fill(5);
    const ClassroomKey theirs = ClassroomKey::fromSeed(seed);
    const QString keyFile = dir.filePath("tavlo/classroom-key.json");
    ASSERT_TRUE(mine.save(keyFile, nullptr));
    Console console;
    console.setKey(mine, keyFile);
    ClassroomKeyWindow window(&console);
    EXPECT_EQ(window.windowTitle(), "Classroom key");
    const QLineEdit* shown = window.findChild<QLineEdit*>();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->text(), mine.publicKey().base64());
    EXPECT_TRUE(labels(window).contains(mine.publicKey().fingerprint()));
    EXPECT_TRUE(labels(window).contains(keyFile));

    // Export: the same key pair, private to its owner.
    const QString exported = dir.filePath("stick/exported.json");
    EXPECT_EQ(window.exportTo(exported), QString());
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(exported).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const auto back = ClassroomKey::load(exported, true, nullptr);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->sign("x"), mine.sign("x"));
    // Where nothing can be written (not even by root): the reason.
    const QString refused = window.exportTo("/proc/tavlo-classroom-key.json");
    EXPECT_TRUE(refused.startsWith("cannot export: /proc/tavlo-classroom-key.json: ")) << refused.toStdString();
    EXPECT_TRUE(labels(window).contains(refused));

    // Import of another console's pair, from a file others may read (a USB
    // stick): the console signs with it from now on and keeps it, privately.
    const QString given = dir.filePath("theirs.json");
    ASSERT_TRUE(theirs.save(given, nullptr));
    ASSERT_EQ(::chmod(QFile::encodeName(given).constData(), 0644), 0);
    EXPECT_EQ(window.importFrom(given), QString());
    EXPECT_EQ(console.key()->publicKey(), theirs.publicKey());
    EXPECT_EQ(shown->text(), theirs.publicKey().base64());
    EXPECT_TRUE(labels(window).contains(theirs.publicKey().fingerprint()));
    const auto kept = ClassroomKey::load(keyFile, true, nullptr);
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(kept->publicKey(), theirs.publicKey());

    // A file that holds no key pair changes nothing.
    QFile junk(dir.filePath("junk.json"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("{\"publicKey\": \"x\"}");
    junk.close();
    const QString error = window.importFrom(junk.fileName());
    EXPECT_TRUE(error.startsWith("cannot import: ")) << error.toStdString();
    EXPECT_TRUE(labels(window).contains(error));
    EXPECT_EQ(console.key()->publicKey(), theirs.publicKey());
    EXPECT_EQ(ClassroomKey::load(keyFile, true, nullptr)->publicKey(), theirs.publicKey());
}

}  // namespace
