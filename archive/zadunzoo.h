// The ZOO extractor TUnZoo: entries stored, LZW-packed (method 1) or packed
// with the static Huffman LZH decoder over an 8 KB window (method 2),
// named by their long name and folder where the entry carries them.
#pragma once

#include "archive/zadunlzhbase.h"

class TUnZoo : public TUnLzhBase {
public:
    using TUnLzhBase::TUnLzhBase;

    bool SupportsType(TArcType type) const override;

    // The decoder of a ZOO method number.
    static TLzhMethod MethodOf(int method);

protected:
    void Walk(TStream32* inStream) override;
    BYTE CrcWidth() const override { return 16; }
};
