#pragma once
// Graphics context for platforms without bundles: resources are looked up as
// plain files in one folder given at construction.
#include "framework/IGraphics.h"

class IGraphicsFolder : public IGraphics {
public:
    // folder: the resources folder (copied; trailing "/" are dropped). With a
    // null or empty folder no resource is ever found.
    explicit IGraphicsFolder(const char* folder);

    // [main thread] out = folder + "/" + base + "." + type when that regular
    // file exists; out untouched otherwise (out of memory included).
    void ResourcePath(KIT_String& out, const char* fileName) override;

    const char* GetFolder() const { return mFolder.Get(); }

private:
    KIT_String mFolder;
};
