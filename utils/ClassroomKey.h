#ifndef TAVLO_CLASSROOMKEY_H
#define TAVLO_CLASSROOMKEY_H

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>

// The public half of a classroom key: the 32 bytes of an Ed25519 public key.
// Terminals hold these (team.bin's "hostKey") and check commands with them.
struct PublicKey {
    std::array<unsigned char, 32> bytes{};

    bool operator==(const PublicKey& o) const { return bytes == o.bytes; }
    bool operator!=(const PublicKey& o) const { return !(*this == o); }

    // Standard base64 with padding, 44 characters.
    QString base64() const;
    // A short form for people to compare by eye: the first 8 bytes of the
    // key's BLAKE2b hash, "xxxx-xxxx-xxxx-xxxx".
    QString fingerprint() const;
    // A key from its standard base64 text: exactly 32 bytes, canonical
    // base64, a valid point of the curve (not of small order). Nothing for
    // anything else, with the reason in *why.
    static std::optional<PublicKey> parse(const QString& text, QString* why = nullptr);
};

// A classroom key pair (Ed25519, libsodium): the teacher's console creates
// one, signs every command with it and can export it to another teacher's
// computer or to tavlo-host. The secret half stays in memory only as long
// as the object, and is wiped when it goes.
//
// The key file is JSON, written with mode 0600:
//   {"type": "tavlo-classroom-key", "publicKey": "<base64, 32 bytes>",
//    "secretKey": "<base64 of the 32-byte seed>"}
// Stateless apart from the key; any thread.
class ClassroomKey {
public:
    // Largest key file read.
    static constexpr int MAX_FILE_BYTES = 4096;

    // A new random key pair.
    static ClassroomKey generate();
    // The key pair derived from a 32-byte seed (tests and benchmarks).
    static ClassroomKey fromSeed(const std::array<unsigned char, 32>& seed);

    // Reads a key file. With requirePrivate, a file that other users may
    // read or write is refused, as ssh refuses such a key. Nothing, with a
    // one-line reason in *error, for anything but a sound key file.
    static std::optional<ClassroomKey> load(const QString& path, bool requirePrivate, QString* error);
    // Writes the key file: a temporary file of mode 0600 beside it, synced,
    // then renamed over path. The folder is created (0700) when missing.
    bool save(const QString& path, QString* error) const;
    // The console's own key: loaded from path, or created and saved there
    // when there is no file (*created says which).
    static std::optional<ClassroomKey> loadOrCreate(const QString& path, bool* created, QString* error);
    // Where the console keeps its key: "tavlo/classroom-key.json" in the
    // user's configuration folder ($XDG_CONFIG_HOME, else ~/.config).
    static QString defaultPath();

    ClassroomKey(const ClassroomKey& o);
    ClassroomKey& operator=(const ClassroomKey& o);
    ~ClassroomKey();

    const PublicKey& publicKey() const { return public_; }
    // The 64-byte detached signature of message.
    QByteArray sign(const QByteArray& message) const;

private:
    ClassroomKey() = default;
    void wipe();
    PublicKey public_;
    // libsodium's secret key: the seed, then the public key.
    std::array<unsigned char, 64> secret_{};
};

#endif
