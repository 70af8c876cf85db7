// The ACE extractor TUnACE over the ACE 2 extraction library's interface.
// No such library exists on Linux (Debian's unace reads ACE 1 only), so the
// program loads none: an extraction reports 25103 once and extracts
// nothing. The component's answers to the library's callbacks sit behind
// TAceLibrary, which tests drive with a scripted stand-in.
#pragma once

#include "archive/zadunbase.h"

#include <functional>
#include <memory>
#include <string>

// The callbacks an ACE library calls while it runs; each answers 0 (go on,
// yes), 1 (no) or 2 (cancel).
struct TAceCallbacks {
    std::function<int(int code)> Info;
    std::function<int()> Error;
    // Requests: 801 next volume (name in, the name to use out), 832
    // overwrite the file named, 835 password for the file named (out).
    std::function<int(int code, std::string& text)> Request;
    // State: 1040 an entry starts: its stored name in, the path to write it
    // to out (the component's choice, inside the target folder); 1041 it
    // ended with its CRC verdict.
    std::function<int(int code, const std::string& name, std::string& target, bool crcPass)> State;
};

class TAceLibrary {
public:
    virtual ~TAceLibrary() = default;
    // Result 0 on success, as the library's calls answer.
    virtual int Init(const TAceCallbacks& callbacks) = 0;
    virtual int Test(const std::string& archive, const std::string& masks, const std::string& password) = 0;
    virtual int Extract(const std::string& archive, const std::string& masks, const std::string& destination,
                        const std::string& password, bool dropPaths) = 0;
};

// Where TUnACE gets its library; the program sets none. Tests put a
// scripted library in place (an empty function restores none).
void SetAceLibraryFactory(std::function<std::unique_ptr<TAceLibrary>()> factory);

class TUnACE : public TUnBase {
public:
    using TUnBase::TUnBase;

    bool SupportsType(TArcType type) const override;
    void _Extract(TStream32*& inStream, TStream32* outStream) override;

    // The masks as the library takes them: each followed by a carriage
    // return; "*" when there are none.
    std::string MaskList() const;
    TAceCallbacks Callbacks();

private:
    int AnswerRequest(int code, std::string& text);
    int AnswerState(int code, const std::string& name, std::string& target, bool crcPass);
};
