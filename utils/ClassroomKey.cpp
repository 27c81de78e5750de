#include "ClassroomKey.h"

#include "Sodium.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sodium.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

static_assert(crypto_sign_PUBLICKEYBYTES == 32 && crypto_sign_SECRETKEYBYTES == 64 && crypto_sign_SEEDBYTES == 32 &&
                  crypto_sign_BYTES == 64,
              "Ed25519 sizes");

namespace {

const char* const FILE_TYPE = "tavlo-classroom-key";

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

void requireSodium()
{
    // Without libsodium nothing can be signed; that is a broken install,
    // not a condition the programs can work around.
    if (!Sodium::ready())
        throw std::runtime_error("libsodium cannot start");
}

}  // namespace

// ---------------------------------------------------------------- PublicKey

QString PublicKey::base64() const
{
    return Sodium::toBase64(QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size())));
}

QString PublicKey::fingerprint() const
{
    requireSodium();
    unsigned char hash[32];
    crypto_generichash(hash, sizeof hash, bytes.data(), bytes.size(), nullptr, 0);
    QString out;
    for (int i = 0; i < 8; ++i) {
        if (i > 0 && i % 2 == 0)
            out += '-';
        out += QString("%1").arg(hash[i], 2, 16, QChar('0'));
    }
    return out;
}

std::optional<PublicKey> PublicKey::parse(const QString& text, QString* why)
{
    requireSodium();
    const std::optional<QByteArray> raw = Sodium::fromBase64(text, 32);
    if (!raw || raw->size() != 32) {
        if (why)
            *why = "is not 32 bytes in standard base64";
        return std::nullopt;
    }
    PublicKey key;
    std::memcpy(key.bytes.data(), raw->constData(), 32);
    if (crypto_core_ed25519_is_valid_point(key.bytes.data()) != 1) {
        if (why)
            *why = "is not an Ed25519 public key";
        return std::nullopt;
    }
    return key;
}

// ---------------------------------------------------------------- ClassroomKey

ClassroomKey ClassroomKey::generate()
{
    requireSodium();
    ClassroomKey k;
    crypto_sign_keypair(k.public_.bytes.data(), k.secret_.data());
    return k;
}

ClassroomKey ClassroomKey::fromSeed(const std::array<unsigned char, 32>& seed)
{
    requireSodium();
    ClassroomKey k;
    crypto_sign_seed_keypair(k.public_.bytes.data(), k.secret_.data(), seed.data());
    return k;
}

ClassroomKey::ClassroomKey(const ClassroomKey& o) : public_(o.public_), secret_(o.secret_) {}

ClassroomKey& ClassroomKey::operator=(const ClassroomKey& o)
{
    public_ = o.public_;
    secret_ = o.secret_;
    return *this;
}

ClassroomKey::~ClassroomKey()
{
    wipe();
}

void ClassroomKey::wipe()
{
    sodium_memzero(secret_.data(), secret_.size());
}

QByteArray ClassroomKey::sign(const QByteArray& message) const
{
    QByteArray sig(crypto_sign_BYTES, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char*>(sig.data()), nullptr,
                         reinterpret_cast<const unsigned char*>(message.constData()),
                         static_cast<unsigned long long>(message.size()), secret_.data());
    return sig;
}

std::optional<ClassroomKey> ClassroomKey::load(const QString& path, bool requirePrivate, QString* error)
{
    requireSodium();
    auto fail = [&](const QString& why) -> std::optional<ClassroomKey> {
        if (error)
            *error = path + ": " + why;
        return std::nullopt;
    };
    // Opened without following a last symbolic link and without blocking
    // (a FIFO of that name would wait for a writer); then what was opened
    // is checked, not the name.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return fail(errnoText());
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail("is not a regular file");
    }
    if (requirePrivate && (st.st_mode & 077) != 0) {
        ::close(fd);
        return fail(QString("other users may read or change it (mode %1; chmod 600 it)")
                        .arg(st.st_mode & 0777, 3, 8, QChar('0')));
    }
    if (st.st_size > MAX_FILE_BYTES) {
        ::close(fd);
        return fail("is too large for a key file");
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail("cannot be read");
    }
    QByteArray text = file.read(MAX_FILE_BYTES + 1);
    file.close();

    const QJsonObject o = QJsonDocument::fromJson(text).object();
    sodium_memzero(text.data(), static_cast<size_t>(text.size()));
    if (o.value("type").toString() != FILE_TYPE)
        return fail("is not a classroom key file");
    const std::optional<PublicKey> pub = PublicKey::parse(o.value("publicKey").toString());
    std::optional<QByteArray> seed = Sodium::fromBase64(o.value("secretKey").toString(), crypto_sign_SEEDBYTES);
    if (!pub || !seed || seed->size() != crypto_sign_SEEDBYTES)
        return fail("holds no sound key pair");
    std::array<unsigned char, 32> s;
    std::memcpy(s.data(), seed->constData(), s.size());
    sodium_memzero(seed->data(), static_cast<size_t>(seed->size()));
    ClassroomKey k = fromSeed(s);
    sodium_memzero(s.data(), s.size());
    // The public half must be the one the secret half gives: a file whose
    // halves disagree would sign with a key nobody trusts.
    if (k.public_ != *pub)
        return fail("holds a public key that is not the secret key's");
    return k;
}

bool ClassroomKey::save(const QString& path, QString* error) const
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = path + ": " + why;
        return false;
    };
    const QFileInfo info(path);
    const QString dir = info.absolutePath();
    if (!QFileInfo::exists(dir)) {
        if (!QDir().mkpath(dir))
            return fail("cannot create its folder");
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QJsonObject o;
    o.insert("type", FILE_TYPE);
    o.insert("publicKey", public_.base64());
    o.insert("secretKey", Sodium::toBase64(QByteArray(reinterpret_cast<const char*>(secret_.data()), 32)));
    QByteArray text = QJsonDocument(o).toJson(QJsonDocument::Indented);

    // The secret never sits in a file that others may read, not even for a
    // moment: the temporary file is created with mode 0600.
    const QByteArray tmp = QFile::encodeName(path + ".tmp-" + QString::number(::getpid()));
    const int fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        sodium_memzero(text.data(), static_cast<size_t>(text.size()));
        return fail(errnoText());
    }
    qint64 written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.constData() + written, static_cast<size_t>(text.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += n;
    }
    sodium_memzero(text.data(), static_cast<size_t>(text.size()));
    const bool ok = written == text.size() && ::fsync(fd) == 0;
    const QString why = errnoText();
    ::close(fd);
    if (!ok || ::rename(tmp.constData(), QFile::encodeName(path).constData()) != 0) {
        const QString reason = ok ? errnoText() : why;
        ::unlink(tmp.constData());
        return fail(reason);
    }
    return true;
}

std::optional<ClassroomKey> ClassroomKey::loadOrCreate(const QString& path, bool* created, QString* error)
{
    if (created)
        *created = false;
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0 || errno != ENOENT)
        return load(path, true, error);
    ClassroomKey k = generate();
    if (!k.save(path, error))
        return std::nullopt;
    if (created)
        *created = true;
    return k;
}

QString ClassroomKey::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/tavlo/classroom-key.json";
}
