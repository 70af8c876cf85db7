// Saves make named hidden temporary files for the life of a test, as on a
// file system without unnamed files, so that a test sees whether any is
// left behind.
#pragma once

#include "rtl/filesave.h"

#include <gtest/gtest.h>

#include <optional>

class NamedTemporaryFiles {
public:
    NamedTemporaryFiles() { SetNamedTemporaryFiles(true); }
    ~NamedTemporaryFiles() { SetNamedTemporaryFiles(false); }
    NamedTemporaryFiles(const NamedTemporaryFiles&) = delete;
    NamedTemporaryFiles& operator=(const NamedTemporaryFiles&) = delete;
};

// Runs check with saves that make unnamed temporary files, then with saves
// that make named hidden ones.
template <typename Check>
void WithEachKindOfTemporaryFile(Check check)
{
    for (bool named : {false, true}) {
        SCOPED_TRACE(named ? "named temporary files" : "unnamed temporary files");
        std::optional<NamedTemporaryFiles> hidden;
        if (named)
            hidden.emplace();
        check();
    }
}
