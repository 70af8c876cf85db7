#include "zadunace.h"

#include "archive/zadcrc.h"
#include "archive/zadgbls.h"

namespace {

constexpr int E_ACELIBRARY = 25103;
// What is missing, in this system's terms: there is no ACE 2 decoder for
// Linux (Debian's unace reads ACE 1 only).
constexpr const char* kNoAceLibrary = "none is available on this system";
constexpr int kContinue = 0, kNo = 1, kCancel = 2;

std::function<std::unique_ptr<TAceLibrary>()>& Factory()
{
    static std::function<std::unique_ptr<TAceLibrary>()> factory;
    return factory;
}

}  // namespace

void SetAceLibraryFactory(std::function<std::unique_ptr<TAceLibrary>()> factory) { Factory() = std::move(factory); }

bool TUnACE::SupportsType(TArcType type) const { return type == atAce || type == atAceExe; }

std::string TUnACE::MaskList() const
{
    if (FileSpec.Count() == 0)
        return "*";
    std::string list;
    for (const std::string& m : FileSpec)
        list += m + '\r';
    return list;
}

TAceCallbacks TUnACE::Callbacks()
{
    TAceCallbacks c;
    c.Info = [this](int code) {
        if (GetCancel())
            return kCancel;
        return code == 281 || code == 282 || code == 320 ? kContinue : kNo;
    };
    c.Error = [] { return kCancel; };
    c.Request = [this](int code, std::string& text) { return GetCancel() ? kCancel : AnswerRequest(code, text); };
    c.State = [this](int code, const std::string& name, std::string& target, bool crcPass) {
        return GetCancel() ? kCancel : AnswerState(code, name, target, crcPass);
    };
    return c;
}

int TUnACE::AnswerRequest(int code, std::string& text)
{
    switch (code) {
    case 801: {
        if (!OnNextVolume) {
            RaiseErrorStr(ArchiveFile(), "OnNextVolume", VolumeName, E_REQUIREDEVENT);
            return kCancel;
        }
        // Only the file-name part, in the archive's folder.
        return GetNextVolume(text, VolumeNumber + 1, true) ? kContinue : kCancel;
    }
    case 832:
        return OverwriteMode == omSkip ? kNo : kContinue;
    case 835: {
        if (!OnGetPassword) {
            RaiseErrorStr(text, "OnGetPassword", VolumeName, E_REQUIREDEVENT);
            return kCancel;
        }
        for (int attempt = 0; attempt < PasswordAttempts; ++attempt) {
            TSeedKeyRecord header{}, data{};
            bool again = true;
            std::string password = Password;
            OnGetPassword(this, text, password, header, data, again);
            if (!password.empty()) {
                text = password;
                return kContinue;
            }
            if (!again || GetCancel())
                break;
        }
        RaiseErrorStr(text, "", VolumeName, E_INVALIDPASSWORD);
        return kCancel;
    }
    default: return kCancel;
    }
}

int TUnACE::AnswerState(int code, const std::string& name, std::string& target, bool crcPass)
{
    if (code == 1040) {
        StoredName = DOSToUnixFilename(name);
        SetFilename(StoredName);
        if (FilenameRefused || !CheckWildCard2(this, StoredName, FileSpec, RecurseDirs, &ExcludeSpec) ||
            !doOnBegin(false))
            return kNo;
        // The entry goes where the component decided (renames included).
        target = Filename;
        return kContinue;
    }
    if (code == 1041) {
        ForceCrcFail = !crcPass;
        doOnEnd(32, Crc32Val);
    }
    return kContinue;
}

void TUnACE::_Extract(TStream32*&, TStream32*)
{
    std::unique_ptr<TAceLibrary> library = Factory() ? Factory()() : nullptr;
    if (!library) {
        RaiseErrorStr(ArchiveFile(), kNoAceLibrary, VolumeName, E_ACELIBRARY);
        return;
    }
    if (library->Init(Callbacks()) != 0) {
        RaiseErrorStr(ArchiveFile(), "", VolumeName, E_ACELIBRARY);
        return;
    }
    const std::string masks = MaskList();
    if (WriteToFile())
        library->Extract(VolumeName, masks, ExtractDir, Password, !UseStoredDirs);
    else
        library->Test(VolumeName, masks, Password);
}
