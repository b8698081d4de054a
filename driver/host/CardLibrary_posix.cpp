#include "CardLibrary.h"

#include <dlfcn.h>

void* CardLibrary::function(const char* name) {
    if (m_handle == nullptr) {
        m_handle = dlopen(m_path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (m_handle == nullptr)
            throw LibraryFault{"", dlerror()};
    }
    dlerror();
    void* fn = dlsym(m_handle, name);
    if (fn == nullptr) {
        const char* reason = dlerror();
        throw LibraryFault{name, reason != nullptr ? reason : "the symbol is null"};
    }
    return fn;
}
