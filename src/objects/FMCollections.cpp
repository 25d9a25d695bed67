#include "objects/FMCollections.h"

#include <list>
#include <string>

#include "com/ComEnum.h"
#include "connector/DeviceConnector.h"
#include "module/Logging.h"

struct FMObjectsTraits {
    static constexpr const char* kPlural = "objects";
    static constexpr const char* kSingular = "an object";
    static constexpr const char* kFound = "object";
    static constexpr const char* kClass = "FMObjects";
    static HRESULT List(DeviceConnector* c, BSTR& path, std::list<IKVFMObject*>& out) {
        return c->getKVFMObjects(path, out);
    }
};

struct FMFilesTraits {
    static constexpr const char* kPlural = "files";
    static constexpr const char* kSingular = "a file";
    static constexpr const char* kFound = "file";
    static constexpr const char* kClass = "FMFiles";
    static HRESULT List(DeviceConnector* c, BSTR& path, std::list<IKVFMFile*>& out) {
        return c->getKVFMFiles(path, out);
    }
};

struct FMFoldersTraits {
    static constexpr const char* kPlural = "folders";
    static constexpr const char* kSingular = "a folder";
    static constexpr const char* kFound = "folder";
    static constexpr const char* kClass = "FMFolders";
    static HRESULT List(DeviceConnector* c, BSTR& path, std::list<IKVFMFolder*>& out) {
        return c->getKVFMFolders(path, out);
    }
};

template <class D, class I, class Item, class T>
CFMCollection<D, I, Item, T>::~CFMCollection() = default;

template <class D, class I, class Item, class T>
HRESULT CFMCollection<D, I, Item, T>::CreateInstance(DeviceConnector* connector, BSTR path, I** collection) {
    LOG_TRACE << "Enter";
    if (!connector || !path || !collection) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    *collection = nullptr;
    com::ComObject<D>* object = nullptr;
    HRESULT hr = com::ComObject<D>::CreateInstance(&object);
    if (FAILED(hr)) {
        LOG_ERROR << "Could not create instance of " << T::kClass;
        return hr;
    }
    object->AddRef();
    auto holder = com::ComPtr<I>::Adopt(static_cast<I*>(object));
    hr = object->Init(connector, path);
    if (FAILED(hr)) return hr;
    hr = holder->QueryInterface(__uuidof(I), reinterpret_cast<void**>(collection));
    if (FAILED(hr)) {
        *collection = nullptr;
        LOG_ERROR << "Could not get interface pointer to " << T::kClass;
        return hr;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}

template <class D, class I, class Item, class T>
HRESULT CFMCollection<D, I, Item, T>::Init(DeviceConnector* connector, BSTR path) {
    LOG_TRACE << "Enter";
    if (!connector) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    std::list<Item*> listed;
    try {
        m_pDeviceConnector = connector;
        m_bstrPath = com::UniqueBstr(path, path ? SysStringLen(path) : 0);
        BSTR listPath = m_bstrPath.Get();
        HRESULT hr = T::List(connector, listPath, listed);
        if (FAILED(hr)) {
            LOG_ERROR << "Unable to get child " << T::kPlural << " to " << com::ToAnsi(path);
            for (Item* item : listed)
                if (item) item->Release();
            return hr;
        }
        m_items.reserve(listed.size());
        for (Item* item : listed) m_items.push_back(com::ComPtr<Item>::Adopt(item));
        listed.clear();
    } catch (...) {
        for (Item* item : listed)
            if (item) item->Release();
        LOG_ERROR << "Unable to get child " << T::kPlural << " to " << com::ToAnsi(path);
        return E_OUTOFMEMORY;
    }
    m_lCount = static_cast<LONG>(m_items.size());
    m_bInitialized = true;
    LOG_TRACE << "Exit";
    return S_OK;
}

template <class D, class I, class Item, class T>
STDMETHODIMP CFMCollection<D, I, Item, T>::get_Count(LONG* count) {
    if (!count) return E_POINTER;
    *count = m_lCount;
    return S_OK;
}

template <class D, class I, class Item, class T>
STDMETHODIMP CFMCollection<D, I, Item, T>::get__NewEnum(IUnknown** enumerator) {
    if (!enumerator) return E_POINTER;
    *enumerator = nullptr;
    // The enumerator keeps the collection, and so its items, alive.
    return com::CreateVariantEnumerator(this->ControllingUnknown(), m_items, enumerator);
}

template <class D, class I, class Item, class T>
STDMETHODIMP CFMCollection<D, I, Item, T>::get_Item(VARIANT key, Item** item) {
    if (!item) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_POINTER;
    }
    *item = nullptr;
    // Scripts pass arguments by reference.
    VARIANT* value = &key;
    while (value->vt == (VT_BYREF | VT_VARIANT) && value->pvarVal) value = value->pvarVal;

    if (value->vt != VT_BSTR && value->vt != (VT_BYREF | VT_BSTR)) {
        com::UniqueVariant position;
        if (SUCCEEDED(VariantChangeType(position.Receive(), value, 0, VT_I4))) {
            const LONG index = position.Get()->lVal;
            if (index < 1) return E_INVALIDARG;
            if (index > m_lCount) return E_FAIL;
            return m_items[static_cast<size_t>(index - 1)].CopyTo(item);
        }
    }
    com::UniqueVariant name;
    HRESULT hr = VariantChangeType(name.Receive(), value, 0, VT_BSTR);
    if (FAILED(hr)) {
        LOG_ERROR << "Unknown key type";
        return hr;
    }
    for (const auto& candidate : m_items) {
        com::UniqueBstr itemName;
        if (!candidate || FAILED(candidate->get_Name(itemName.Receive()))) continue;
        VARIANT itemValue;
        itemValue.vt = VT_BSTR;
        itemValue.bstrVal = itemName.Get();
        if (VarCmp(&itemValue, name.Get(), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ) {
            LOG_DEBUG << "Found " << T::kFound << " with key " << name.Get()->bstrVal;
            return candidate.CopyTo(item);
        }
    }
    LOG_DEBUG << "Could not find " << T::kSingular << " with key " << name.Get()->bstrVal;
    return E_FAIL;
}

template class CFMCollection<CFMObjects, IKVFMObjects, IKVFMObject, FMObjectsTraits>;
template class CFMCollection<CFMFiles, IKVFMFiles, IKVFMFile, FMFilesTraits>;
template class CFMCollection<CFMFolders, IKVFMFolders, IKVFMFolder, FMFoldersTraits>;
