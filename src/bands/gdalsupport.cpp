#include "bands/gdalsupport.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>

#include "bands/gdalapi.h"
#include "support/sharedmodule.h"

// The module in the build tree, which the build gives as a path.
#ifndef TESSERA_GDAL_MODULE_BUILT
#define TESSERA_GDAL_MODULE_BUILT ""
#endif

namespace tessera {

namespace {

std::atomic<const GdalApi*> loadedModule{nullptr};

// A bound of the cache set before the module was loaded.
std::mutex cacheLock;
std::optional<int64_t> pendingCache;

void SetCache(const GdalApi& gdal, int64_t bytes) {
    // A cache the user sets through GDAL's own setting is the user's choice.
    if (gdal.configOption("GDAL_CACHEMAX") != nullptr) return;
    gdal.setCacheMax(bytes);
}

struct Loading {
    const GdalApi* gdal = nullptr;
    std::string refusal;
};

const Loading& Load() {
    static const Loading loading = [] {
        Loading result;
        const auto refuse = [&result](const std::string& why) {
            result.refusal = std::string("GDAL's module ") + kGdalModuleFile +
                             " cannot be loaded (" + why + ")";
            return result;
        };
        ModuleLookup lookup;
        lookup.file = kGdalModuleFile;
        lookup.variable = "TESSERA_GDAL_MODULE";
        lookup.built = TESSERA_GDAL_MODULE_BUILT;
        lookup.anchor = reinterpret_cast<const void*>(&Gdal);
        const Result<void*> opened = OpenModule(lookup);
        if (!opened) return refuse(opened.message);
        using Entry = const GdalApi* (*)();
        void* symbol = ModuleSymbol(*opened.value, kGdalModuleEntry);
        if (symbol == nullptr) return refuse(std::string("it has no ") + kGdalModuleEntry);
        const GdalApi* gdal = reinterpret_cast<Entry>(symbol)();
        if (gdal == nullptr || gdal->version != kGdalApiVersion ||
            gdal->size != static_cast<int>(sizeof(GdalApi)))
            return refuse("it is of another build of the program");
        {
            const std::lock_guard<std::mutex> lock(cacheLock);
            if (pendingCache) SetCache(*gdal, *pendingCache);
            pendingCache.reset();
            loadedModule = gdal;
        }
        result.gdal = gdal;
        return result;
    }();
    return loading;
}

}  // namespace

const GdalApi* Gdal() {
    if (const GdalApi* gdal = loadedModule.load()) return gdal;
    return Load().gdal;
}

bool GdalLoaded() {
    return loadedModule.load() != nullptr;
}

std::string GdalUnavailable() {
    return Load().refusal;
}

QuietGdalErrors::QuietGdalErrors() : gdal_(loadedModule.load()) {
    if (gdal_) gdal_->quietErrors();
}

QuietGdalErrors::~QuietGdalErrors() {
    if (gdal_) gdal_->loudErrors();
}

void RegisterGdalDrivers() {
    static std::once_flag registered;
    std::call_once(registered, [] {
        if (const GdalApi* gdal = Gdal()) gdal->registerDrivers();
    });
}

void EndGdal() {
    if (GdalLoaded()) loadedModule.load()->destroy();
}

void BoundRasterCache(int64_t bytes, int64_t floor) {
    const int64_t bound = std::max(bytes, floor);
    {
        const std::lock_guard<std::mutex> lock(cacheLock);
        if (!GdalLoaded()) {
            pendingCache = bound;
            return;
        }
    }
    SetCache(*loadedModule.load(), bound);
}

}  // namespace tessera
