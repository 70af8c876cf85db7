// The LHA and LZH extractor TUnLha: header levels 0 to 2 with their folder
// extended headers; methods lh0 (stored), lh1 (adaptive Huffman), lh4 to
// lh7 (static Huffman over 4 to 64 KB windows) and lhd (a folder).
#pragma once

#include "archive/zadunlzhbase.h"

class TUnLha : public TUnLzhBase {
public:
    using TUnLzhBase::TUnLzhBase;

    bool SupportsType(TArcType type) const override;

    // The decoder of a five-character method id ("-lh5-").
    static TLzhMethod MethodOf(const char* id);

protected:
    void Walk(TStream32* inStream) override;
    BYTE CrcWidth() const override { return 16; }
};
