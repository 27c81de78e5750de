// The console's widgets offscreen: what a tile says for a group (gone, a
// conflicting address, what it shows, whether it is locked, whether its
// commands are signed, its name), its menu of other groups, a refusal
// reaching the window's status line, the selection by Ctrl, Shift and the
// "Select" box and the datagrams its commands send (to UDP peers on
// loopback, in the test's own network namespace), the window's texts in
// Chinese and a translation catalogue in step with the source, and the
// "Classroom key" window with its export and import.
#include "ClassroomKeyWindow.h"
#include "Console.h"
#include "ConsoleWindow.h"
#include "GroupTile.h"
#include "LookCloserWindow.h"
#include "NetSupport.h"
#include "TestSupport.h"
#include "ViewerSupport.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDirIterator>
#include <QLibraryInfo>
#include <QMouseEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QTranslator>
#include <QXmlStreamReader>
#include <map>
#include <set>

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
    tile.setRow(row(3, "10.0.0.3", false, nullptr, 2), QString(), {1, 2, 3});
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

    tile.setRow(row(3, "10.0.0.3", true), QString(), {1, 2});
    text = labels(tile);
    EXPECT_TRUE(text.contains("Group 3  (gone)"));
    EXPECT_TRUE(text.contains("shows nothing"));
    EXPECT_FALSE(tile.isEnabled());  // no commands for a gone group

    tile.setRow(row(3, "10.0.0.3", false, "10.0.0.66", 0, "bm9uY2Vub25jZW5vbmNlMQ=="), QString(), {1, 2, 3});
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

TEST(GroupTile, NameAndLockAreShown)
{
    Console console;
    GroupTile tile(&console);
    GroupRow r = row(4, "10.0.0.4", false, nullptr, 0);
    r.locked = true;
    tile.setRow(r, QString::fromUtf8("窗边"), {4});
    EXPECT_TRUE(labels(tile).contains(QString::fromUtf8("Group 4: 窗边")));
    EXPECT_TRUE(labels(tile).contains("shows the teacher, locked"));
    QStringList buttons;
    for (const QPushButton* b : tile.findChildren<QPushButton*>())
        buttons << b->text();
    EXPECT_TRUE(buttons.contains("Unlock"));
    EXPECT_FALSE(buttons.contains("Lock"));
    // A long name is cut, whole in the tooltip; the tile keeps its width.
    const int width = tile.sizeHint().width();
    tile.setRow(row(4, "10.0.0.4"), QString(40, 'W'), {4});
    EXPECT_LE(tile.sizeHint().width(), width);
    // Reasons from the puller in the console's words.
    EXPECT_EQ(GroupTile::errorLabel("cannot open: Connection refused, retrying"),
              "cannot open: Connection refused, retrying");
    EXPECT_EQ(GroupTile::errorLabel("something new"), "something new");
}

// A console in this process with groups announced from loopback addresses,
// each with a UDP peer on its classroom port that receives its commands
// (in the test's own namespace, so nothing else hears them).
class WindowWithGroups : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!tsupport::isolatedNetwork())
            GTEST_SKIP() << "needs a private network namespace (run through ctest as root)";
        for (int g = 1; g <= 4; ++g) {
            peers[g] = std::make_unique<tsupport::UdpPeer>(address(g), 55555);
            ASSERT_TRUE(peers[g]->ok());
        }
        announce();
        window = std::make_unique<ConsoleWindow>(&console);
        window->resize(1240, 760);
        window->show();
        QCoreApplication::processEvents();
    }
    static QHostAddress address(int g) { return QHostAddress(QString("127.0.3.%1").arg(g)); }
    // Every group announces itself (again: they are gone after 5 s of
    // silence). Live port 1: refused at once, so the thumbnails cost nothing.
    void announce()
    {
        for (int g = 1; g <= 4; ++g)
            console.onAnnounced(g, address(g), 1, QString());
    }
    GroupTile* tile(int g) { return window->tile(Console::key(g, address(g))); }
    void click(int g, Qt::KeyboardModifiers modifiers)
    {
        GroupTile* t = tile(g);
        const QPoint at(t->width() / 2, 10);
        QMouseEvent press(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton, modifiers);
        QMouseEvent release(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton, modifiers);
        QCoreApplication::sendEvent(t, &press);
        QCoreApplication::sendEvent(t, &release);
        QCoreApplication::processEvents();  // the click is queued
    }
    QPushButton* button(const QString& text)
    {
        for (QPushButton* b : window->findChildren<QPushButton*>())
            if (b->text() == text && b->parentWidget() == window->centralWidget())
                return b;
        return nullptr;
    }
    // The datagrams group g received: the first within firstMs, the rest
    // within a moment after it.
    QStringList received(int g, int firstMs = tsupport::SLOW_MS)
    {
        QStringList out;
        while (const auto d = peers[g]->receive(out.isEmpty() ? firstMs : 100))
            out << QString::fromUtf8(*d);
        return out;
    }

    Console console;
    std::map<int, std::unique_ptr<tsupport::UdpPeer>> peers;
    std::unique_ptr<ConsoleWindow> window;
};

TEST_F(WindowWithGroups, CtrlShiftAndTheBoxSelectAndTheSelectionsCommandsReachOnlyIt)
{
    using V = std::vector<int>;
    click(1, Qt::ControlModifier);
    EXPECT_EQ(window->selection(), V({1}));
    click(3, Qt::ShiftModifier);
    EXPECT_EQ(window->selection(), V({1, 2, 3}));
    click(2, Qt::ControlModifier);
    EXPECT_EQ(window->selection(), V({1, 3}));
    EXPECT_TRUE(tile(1)->selected());
    EXPECT_FALSE(tile(2)->selected());
    // The box, as a finger would tap it.
    QCheckBox* box = tile(4)->findChild<QCheckBox*>();
    ASSERT_NE(box, nullptr);
    box->click();
    EXPECT_EQ(window->selection(), V({1, 3, 4}));
    box->click();
    EXPECT_EQ(window->selection(), V({1, 3}));
    // A plain click selects nothing: it opens a closer look at the group.
    click(2, Qt::NoModifier);
    EXPECT_EQ(window->selection(), V({1, 3}));
    ASSERT_NE(window->lookCloser(2), nullptr);
    EXPECT_EQ(window->lookCloser(2)->url(), "rtsp://127.0.3.2:1/cam_passby_chn0");
    EXPECT_EQ(window->lookCloser(2)->windowTitle(), "Group 2 (closer look)");

    // Lock the selection with the teacher's text, then stop it.
    announce();
    window->findChild<QLineEdit*>()->setText("Eyes to the front");
    ASSERT_NE(button("Lock"), nullptr);
    button("Lock")->click();
    for (int g : {1, 3})
        EXPECT_EQ(received(g), QStringList{R"({"messageId":16,"text":"Eyes to the front"})"}) << g;
    for (int g : {2, 4})
        EXPECT_TRUE(received(g, 300).isEmpty()) << g;
    EXPECT_TRUE(console.table().current(1, console.now())->locked);
    EXPECT_FALSE(console.table().current(2, console.now())->locked);
    button("Stop")->click();
    for (int g : {1, 3})
        EXPECT_EQ(received(g), QStringList{R"({"messageId":1})"}) << g;
    EXPECT_TRUE(received(4, 300).isEmpty());
    // Cleared, the selection's buttons are off.
    button("Clear selection")->click();
    EXPECT_TRUE(window->selection().empty());
    EXPECT_FALSE(button("Lock")->isEnabled());
    // Unlock all needs no confirmation, and reaches every group.
    announce();
    button("Unlock all")->click();
    for (int g = 1; g <= 4; ++g)
        EXPECT_EQ(received(g), QStringList{R"({"messageId":17})"}) << g;
}

TEST_F(WindowWithGroups, NamesAreShownOnTheTilesAndTheCloserLook)
{
    QTemporaryDir dir;
    console.setNamesPath(dir.filePath("console.conf"));
    console.setName(3, "Back row");
    EXPECT_TRUE(labels(*tile(3)).contains("Group 3: Back row"));
    LookCloserWindow* look = window->openLookCloser(3);
    ASSERT_NE(look, nullptr);
    EXPECT_EQ(look->windowTitle(), "Group 3: Back row (closer look)");
    EXPECT_EQ(window->openLookCloser(3), look);  // one per group
    EXPECT_EQ(window->openLookCloser(9), nullptr);  // not present
    // A second console reads the same file.
    Console later;
    later.setNamesPath(dir.filePath("console.conf"));
    EXPECT_EQ(later.name(3), "Back row");
}

TEST_F(WindowWithGroups, TheTeachersScreenMakesTheWindowStepAsideFirst)
{
    // Looked at once the window has had the signal, before anything goes out.
    std::vector<QString> order;
    QObject::connect(&console, &Console::teacherAboutToShow, window.get(), [&] {
        order.push_back(window->windowState() & Qt::WindowMinimized ? "minimised" : "still there");
        order.push_back(received(1, 50).isEmpty() ? "nothing sent yet" : "already sent");
    });
    console.showToAll(2);  // another group's screen: the window stays
    EXPECT_TRUE(order.empty());
    EXPECT_FALSE(window->windowState() & Qt::WindowMinimized);
    EXPECT_EQ(received(1), QStringList{R"({"groupId":2,"ip":"127.0.3.2","messageId":2,"multicast":true})"});
    console.showToGroups({1}, 0);
    EXPECT_EQ(order, (std::vector<QString>{"minimised", "nothing sent yet"}));
    EXPECT_TRUE(window->windowState() & Qt::WindowMinimized);
    EXPECT_EQ(received(1), QStringList{R"({"groupId":0,"messageId":2})"});
}

// Every text the teacher sees, in Chinese when the desktop speaks it.
TEST_F(WindowWithGroups, EveryVisibleTextIsTranslatedToChinese)
{
    QTranslator zh;
    ASSERT_TRUE(zh.load(QLocale(QLocale::Chinese, QLocale::China), "tavlo-console", "_", ":/i18n"));
    QCoreApplication::installTranslator(&zh);
    auto window2 = std::make_unique<ConsoleWindow>(&console);
    window2->show();
    console.setName(2, "A");
    console.lock({2}, QString());
    LookCloserWindow* look = window2->openLookCloser(1);
    ASSERT_NE(look, nullptr);
    QCoreApplication::processEvents();
    tsupport::pause(300);  // the thumbnails' first reasons
    ClassroomKeyWindow keyWindow(&console, window2.get());

    QStringList texts;
    for (const QWidget* top : std::initializer_list<const QWidget*>{window2.get(), look, &keyWindow}) {
        texts << top->windowTitle();
        for (const QWidget* w : top->findChildren<QWidget*>()) {
            if (!w->toolTip().isEmpty())
                texts << w->toolTip();
            if (const auto* l = qobject_cast<const QLabel*>(w))
                texts << l->text();
            if (const auto* b = qobject_cast<const QAbstractButton*>(w))
                texts << b->text();
            if (const auto* c = qobject_cast<const QComboBox*>(w))
                for (int i = 0; i < c->count(); ++i)
                    texts << c->itemText(i);
            if (const auto* e = qobject_cast<const QLineEdit*>(w))
                texts << e->placeholderText();
        }
    }
    QCoreApplication::removeTranslator(&zh);
    const QRegularExpression letters("[A-Za-z]{2,}"), chinese("[\\x{4e00}-\\x{9fff}]");
    int checked = 0;
    for (const QString& t : texts) {
        // Words without a Chinese character are data (addresses, the key's
        // file) or system messages; everything else is the console's own.
        if (!letters.match(t).hasMatch() || t.startsWith("/") || t.contains("Connection refused"))
            continue;
        ++checked;
        EXPECT_TRUE(chinese.match(t).hasMatch()) << "untranslated: " << t.toStdString();
    }
    EXPECT_GT(checked, 15);
}

// The catalogue holds every text the source marks for translation, each
// translated (lupdate over the console's source finds nothing new).
TEST(Translations, TheCatalogueIsCompleteAndInStepWithTheSource)
{
    const QString ts = tsupport::sourceDir() + "/console/translations/tavlo-console_zh_CN.ts";
    auto read = [](const QString& path, int* unfinished) {
        std::set<std::pair<QString, QString>> out;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
        QXmlStreamReader x(&f);
        QString context, source;
        while (!x.atEnd()) {
            x.readNext();
            if (!x.isStartElement())
                continue;
            if (x.name() == QLatin1String("name"))
                context = x.readElementText();
            else if (x.name() == QLatin1String("source"))
                source = x.readElementText();
            else if (x.name() == QLatin1String("translation")) {
                const QString type = x.attributes().value("type").toString();
                if (type == "vanished" || type == "obsolete")
                    continue;
                if (unfinished && (!type.isEmpty() || x.readElementText().isEmpty()))
                    ++*unfinished;
                out.insert({context, source});
            }
        }
        EXPECT_FALSE(x.hasError()) << x.errorString().toStdString();
        return out;
    };
    int unfinished = 0;
    const auto kept = read(ts, &unfinished);
    EXPECT_EQ(unfinished, 0);
    EXPECT_GT(kept.size(), 100u);

    QTemporaryDir dir;
    const QString fresh = dir.filePath("fresh.ts");
    QString lupdate = QLibraryInfo::location(QLibraryInfo::BinariesPath) + "/lupdate";
    if (!QFile::exists(lupdate))
        lupdate = "lupdate";
    int code = -1;
    tsupport::run(lupdate, {"-silent", tsupport::sourceDir() + "/console", "-ts", fresh},
                  QProcessEnvironment::systemEnvironment(), tsupport::SLOW_MS, &code);
    ASSERT_EQ(code, 0) << "lupdate (qttools5-dev-tools) is needed";
    const auto inSource = read(fresh, nullptr);
    for (const auto& m : inSource)
        EXPECT_TRUE(kept.count(m)) << "not in the catalogue: " << m.first.toStdString() << " / "
                                   << m.second.toStdString();
    for (const auto& m : kept)
        EXPECT_TRUE(inSource.count(m)) << "no longer in the source: " << m.first.toStdString() << " / "
                                       << m.second.toStdString();
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
    EXPECT_TRUE(labels(window).contains("Show the teacher's screen: not sent, no group is present"));
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
