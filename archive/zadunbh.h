// The BH extractor TUnBh: entries stored, deflated, or packed with the
// static Huffman LZH decoder (method 1 with an 8 KB window, method 3 with a
// 32 KB one), optionally under the traditional ZIP cipher, whose 12-byte
// header the password is tested against.
#pragma once

#include "archive/zadcrypt.h"
#include "archive/zadunlzhbase.h"

class TUnBh : public TUnLzhBase {
public:
    using TUnLzhBase::TUnLzhBase;

    bool SupportsType(TArcType type) const override;
    bool VerifyPassword(std::uint8_t* header) override;
    TSeedKeys SeedDataKeys{skDataKeys};

    // The decoder of a BH method number.
    static TLzhMethod MethodOf(int method);

protected:
    void Walk(TStream32* inStream) override;
    BYTE CrcWidth() const override { return 32; }
    bool Unlock(TStream32* inStream, const TLzhEntry& e) override;
};
