#include "framework/IGraphicsFolder.h"

#include <new>
#include <string>
#include <sys/stat.h>

IGraphicsFolder::IGraphicsFolder(const char* folder) {
    mFolder.Set(folder ? folder : "");
    int length = mFolder.GetLength();
    while (length > 1 && mFolder.Get()[length - 1] == '/') --length;
    mFolder.Set(mFolder.Get(), length);
}

void IGraphicsFolder::ResourcePath(KIT_String& out, const char* fileName) {
    if (!fileName || !*fileName || mFolder.GetLength() == 0) return;

    // The strings below may throw std::bad_alloc, which must not leave the
    // library: out of memory is a resource not found.
    try {
        // The name splits at its last "." into base and type; of the base only the
        // last path component counts, as in a bundle lookup.
        const std::string name(fileName);
        const size_t dot = name.rfind('.');
        std::string base = dot == std::string::npos ? name : name.substr(0, dot);
        const std::string type = dot == std::string::npos ? std::string() : name.substr(dot + 1);
        const size_t slash = base.rfind('/');
        if (slash != std::string::npos) base = base.substr(slash + 1);
        if (base.empty()) return;

        std::string path(mFolder.Get());
        if (path != "/") path += '/';
        path += base;
        if (!type.empty()) path += '.' + type;

        struct stat info;
        if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
        out.Set(path.c_str());
    } catch (const std::bad_alloc&) {
    }
}
