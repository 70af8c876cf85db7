// LibreOffice's headless converter, run over a private copy of a document,
// and the program's cache of the pictures it made.
#include "ole/officeconv_p.h"

#include "ole/ole_p.h"
#include "ole/olectrls.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The cache keeps this many pictures and failures; the oldest go first.
constexpr int kCacheEntries = 200;
// A first page larger than this (in pixels, either way) is refused: the
// converter draws pages at screen size, a few hundred to a few thousand.
constexpr int kMaxPictureSide = 16384;

QString Q(const std::string& s) { return QFile::decodeName(QByteArray::fromStdString(s)); }

std::string WorkRoot() { return ProgramCacheFolder() + "/office-work"; }
std::string ProfileFolder() { return ProgramCacheFolder() + "/office-profile"; }

// The settings of the converter's own profile: no macro runs (the highest
// macro security, and macros switched off), no link of a document is
// followed when it loads, untrusted links to pictures are blocked, and no
// lock files are written.
const char kProfileSettings[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\"><prop oor:name=\"MacroSecurityLevel\" "
    "oor:op=\"fuse\"><value>3</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\"><prop oor:name=\"DisableMacrosExecution\" "
    "oor:op=\"fuse\"><value>true</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\"><prop oor:name=\"BlockUntrustedRefererLinks\" "
    "oor:op=\"fuse\"><value>true</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Writer/Content/Update\"><prop oor:name=\"Link\" "
    "oor:op=\"fuse\"><value>0</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Calc/Content/Update\"><prop oor:name=\"Link\" "
    "oor:op=\"fuse\"><value>1</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop oor:name=\"UseLocking\" "
    "oor:op=\"fuse\"><value>false</value></prop></item>\n"
    "</oor:items>\n";

// Writes the profile's settings unless the converter's own copy of them
// still holds each of ours (it rewrites the file, keeping them, when it ends).
void PrepareProfile()
{
    const QString file = Q(ProfileFolder()) + "/user/registrymodifications.xcu";
    QFile current(file);
    if (current.open(QIODevice::ReadOnly)) {
        const QByteArray have = current.readAll();
        const QList<QByteArray> ours = QByteArray(kProfileSettings).split('\n');
        const bool complete = std::all_of(ours.begin(), ours.end(), [&](const QByteArray& line) {
            return !line.startsWith("<item") || have.contains(line);
        });
        if (complete)
            return;
    }
    QDir().mkpath(Q(ProfileFolder()) + "/user");
    QSaveFile out(file);
    if (out.open(QIODevice::WriteOnly)) {
        out.write(kProfileSettings);
        out.commit();
    }
}

// Work folders left by a program that ended in the middle of a conversion
// (a crash, a kill) are removed once they are a day old.
void SweepStaleWorkFolders()
{
    static bool swept = false;
    if (swept)
        return;
    swept = true;
    const QDateTime dayAgo = QDateTime::currentDateTime().addDays(-1);
    for (const QFileInfo& folder : QDir(Q(WorkRoot())).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (folder.lastModified() < dayAgo)
            QDir(folder.absoluteFilePath()).removeRecursively();
}

// unshare(1) gives the converter a network of its own with no way out,
// where the system lets an ordinary user make one; elsewhere the profile's
// settings are what keeps it from the network.
QString NetworkIsolator()
{
    const QString unshare = QStandardPaths::findExecutable("unshare");
    if (unshare.isEmpty())
        return {};
    QProcess probe;
    probe.start(unshare, {"-rn", "--", "true"});
    if (!probe.waitForFinished(5000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0) {
        probe.kill();
        probe.waitForFinished(1000);
        return {};
    }
    return unshare;
}

std::string ExtensionOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = path.substr(dot);
    for (char& c : ext)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    // Only a plain extension names the copy: the converter picks its reader
    // by content and by this.
    const bool plain = ext.size() <= 6 && std::all_of(ext.begin() + 1, ext.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    });
    return plain ? ext : std::string();
}

QImage ReadPicture(const QString& file)
{
    QImageReader reader(file, "png");
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > kMaxPictureSide || size.height() > kMaxPictureSide)
        return {};
    return reader.read();
}

}  // namespace

// ====================================================================== keys and the cache

std::string TOfficeDocumentKey::Name() const
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(QByteArray::fromStdString(path));
    hash.addData(QByteArray(1, '\0'));
    hash.addData(QByteArray::number(static_cast<qlonglong>(size)) + ':' +
                 QByteArray::number(static_cast<qlonglong>(modifiedNs)));
    return hash.result().toHex().toStdString();
}

std::optional<TOfficeDocumentKey> KeyOfDocument(const std::string& path, DWORD* error)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        *error = Win32ErrorFromErrno(errno);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = ERROR_ACCESS_DENIED;
        return std::nullopt;
    }
    if (::access(path.c_str(), R_OK) != 0) {
        *error = Win32ErrorFromErrno(errno);
        return std::nullopt;
    }
    TOfficeDocumentKey key;
    key.path = path;
    key.size = st.st_size;
    key.modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return key;
}

std::string OfficeConverterProgram()
{
    for (const char* name : {"soffice", "libreoffice"}) {
        const QString found = QStandardPaths::findExecutable(name);
        if (!found.isEmpty())
            return QFile::encodeName(found).toStdString();
    }
    return {};
}

namespace OfficeCache {

std::string Folder() { return ProgramCacheFolder() + "/office"; }

std::optional<TOfficeOutcome> Find(const TOfficeDocumentKey& key)
{
    const QString base = Q(Folder()) + "/" + QString::fromStdString(key.Name());
    if (QFileInfo::exists(base + ".png")) {
        TOfficeOutcome outcome;
        outcome.picture = ReadPicture(base + ".png");
        if (!outcome.picture.isNull())
            return outcome;
        QFile::remove(base + ".png");
    }
    QFile failure(base + ".failed");
    if (failure.open(QIODevice::ReadOnly)) {
        // The failure's code in hexadecimal on the first line, its text on the second.
        const QList<QByteArray> lines = failure.readAll().split('\n');
        bool ok = false;
        const uint code = lines.value(0).toUInt(&ok, 16);
        if (ok && lines.size() >= 2 && !lines[1].isEmpty()) {
            TOfficeOutcome outcome;
            outcome.code = static_cast<HRESULT>(code);
            outcome.reason = lines[1].toStdString();
            outcome.lasting = true;
            return outcome;
        }
    }
    return std::nullopt;
}

namespace {

void Prune()
{
    QFileInfoList entries = QDir(Q(Folder())).entryInfoList({"*.png", "*.failed"}, QDir::Files, QDir::Time);
    for (int i = kCacheEntries; i < entries.size(); ++i)
        QFile::remove(entries[i].absoluteFilePath());
}

}  // namespace

void Store(const TOfficeDocumentKey& key, const TOfficeOutcome& outcome)
{
    if (outcome.picture.isNull() && !outcome.lasting)
        return;
    QDir().mkpath(Q(Folder()));
    const QString base = Q(Folder()) + "/" + QString::fromStdString(key.Name());
    QSaveFile out(base + (outcome.picture.isNull() ? ".failed" : ".png"));
    if (!out.open(QIODevice::WriteOnly))
        return;
    if (outcome.picture.isNull())
        out.write(QByteArray::number(static_cast<uint>(outcome.code), 16) + '\n' + QByteArray::fromStdString(outcome.reason) + '\n');
    else
        outcome.picture.save(&out, "png");
    if (out.commit())
        Prune();
}

}  // namespace OfficeCache

// ====================================================================== one conversion

TOfficeConversion::TOfficeConversion(const std::string& program, const TOfficeDocumentKey& key, TDone done)
    : m_alive(std::make_shared<bool>(true)), m_done(std::move(done))
{
    SweepStaleWorkFolders();
    QDir().mkpath(Q(WorkRoot()));
    std::string pattern = WorkRoot() + "/XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        Deliver({QImage(), HRESULT_FROM_WIN32(Win32ErrorFromErrno(errno)),
                 "No work folder could be made for the conversion in " + WorkRoot() + ".", false});
        return;
    }
    m_work = pattern;
    const QString work = Q(m_work);
    QDir().mkpath(work + "/in");
    QDir().mkpath(work + "/out");
    QDir().mkpath(work + "/tmp");

    // The converter reads a copy that nobody may write, so neither the
    // user's file nor its folder is touched (no lock file beside it).
    const QString copy = work + "/in/document" + QString::fromStdString(ExtensionOf(key.path));
    if (!QFile::copy(Q(key.path), copy)) {
        Deliver({QImage(), STG_E_ACCESSDENIED, "The document cannot be read.", false});
        return;
    }
    QFile::setPermissions(copy, QFileDevice::ReadOwner);

    PrepareProfile();
    const QString profileUrl = QUrl::fromLocalFile(Q(ProfileFolder())).toString(QUrl::FullyEncoded);
    QStringList args = {"-env:UserInstallation=" + profileUrl, "--headless", "--invisible", "--nologo", "--norestore",
        "--nodefault", "--nolockcheck", "--nofirststartwizard", "--convert-to", "png", "--outdir", work + "/out", copy};
    QString start = Q(program);
    if (const QString isolator = NetworkIsolator(); !isolator.isEmpty()) {
        args = QStringList {"-rn", "--", start} + args;
        start = isolator;
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("SESSION_MANAGER");
    env.insert("TMPDIR", work + "/tmp");
    m_process = std::make_unique<QProcess>();
    m_process->setProcessEnvironment(env);
    m_process->setWorkingDirectory(work);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardInputFile(QProcess::nullDevice());
    // The converter starts helpers of its own: in a process group of their
    // own, ending the conversion ends them all.
    m_process->setChildProcessModifier([] { ::setpgid(0, 0); });
    QObject::connect(m_process.get(), &QProcess::readyRead, m_process.get(), [this] {
        // The converter says little; keep a bounded tail of it for the outcome.
        m_output += m_process->readAll().toStdString();
        if (m_output.size() > 65536)
            m_output.erase(0, m_output.size() - 65536);
    });
    QObject::connect(m_process.get(), &QProcess::finished, m_process.get(), [this] { Finished(); });
    QObject::connect(m_process.get(), &QProcess::errorOccurred, m_process.get(), [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            Deliver({QImage(), REGDB_E_CLASSNOTREG, "LibreOffice could not be started.", false});
    });
    m_process->start(start, args);
}

TOfficeConversion::~TOfficeConversion()
{
    *m_alive = false;
    EndProcess();
    if (!m_work.empty())
        QDir(Q(m_work)).removeRecursively();
}

std::int64_t TOfficeConversion::ProcessId() const
{
    return m_process && m_process->state() != QProcess::NotRunning ? m_process->processId() : 0;
}

void TOfficeConversion::EndProcess()
{
    if (!m_process)
        return;
    m_process->disconnect();
    if (m_process->state() != QProcess::NotRunning) {
        if (const qint64 pid = m_process->processId(); pid > 0)
            ::kill(-static_cast<pid_t>(pid), SIGKILL);
        m_process->kill();
        m_process->waitForFinished(5000);
    }
    m_process.reset();
}

void TOfficeConversion::Finished()
{
    m_output += m_process->readAll().toStdString();
    const int exitCode = m_process->exitStatus() == QProcess::NormalExit ? m_process->exitCode() : -1;
    // A helper the converter left behind goes with its group.
    if (const qint64 pid = m_process->processId(); pid > 0)
        ::kill(-static_cast<pid_t>(pid), SIGKILL);

    TOfficeOutcome outcome;
    const QString picture = Q(m_work) + "/out/document.png";
    if (QFileInfo::exists(picture)) {
        outcome.picture = ReadPicture(picture);
        if (outcome.picture.isNull()) {
            outcome.code = STG_E_DOCFILECORRUPT;
            outcome.reason = "LibreOffice made a picture of it that cannot be read.";
        }
    } else if (m_output.find("could not be loaded") != std::string::npos) {
        outcome.code = STG_E_DOCFILECORRUPT;
        outcome.reason = kDamagedDocumentReason;
        outcome.lasting = true;
    } else {
        outcome.code = E_FAIL;
        outcome.reason = exitCode == 0 ? "LibreOffice made no picture of it."
                                       : "LibreOffice failed to convert it (exit code " + std::to_string(exitCode) + ").";
    }
    Deliver(std::move(outcome));
}

void TOfficeConversion::Deliver(TOfficeOutcome outcome)
{
    // Through the event loop, so the receiver may end this conversion (it
    // must not from inside the process's own signal); a conversion ended
    // meanwhile delivers nothing.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [alive = m_alive, done = m_done, outcome = std::move(outcome)]() mutable {
            if (*alive)
                done(std::move(outcome));
        },
        Qt::QueuedConnection);
}
