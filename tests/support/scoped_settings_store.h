#pragma once
// An empty settings store of its own for as long as it lives.

#include "tests/support/scoped_xdg_dir.h"

namespace kestrel::test {

class CScopedStore : public CScopedXdgDir {
public:
    CScopedStore() : CScopedXdgDir("XDG_CONFIG_HOME") {}
};

}  // namespace kestrel::test
