#pragma once
// The editor's graphics context. Only the resources lookup stands here so far;
// the drawing and event core joins this class later.
#include "toolkit/KIT_String.h"

class IGraphics {
public:
    IGraphics() = default;
    virtual ~IGraphics();
    IGraphics(const IGraphics&) = delete;
    IGraphics& operator=(const IGraphics&) = delete;

    // [main thread] Platform operation: writes into out the full path of the
    // named resource file of the plug-in's resources. fileName is split at its
    // last "." into a base name and a type; only the last path component of the
    // base name is looked up. When no such file exists, out is left as it was.
    virtual void ResourcePath(KIT_String& out, const char* fileName) = 0;

    // [main thread] The folder that holds the marker file "dummy.txt", without a
    // trailing "/"; the empty text when the marker cannot be found.
    virtual void ResourcesFolderPath(KIT_String& out);
};
