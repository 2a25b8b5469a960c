// An in-process automation server that stands in for BarTender in tests: it
// registers under BarTender's ProgID, answers GetIDsOfNames for the members
// the station uses (application: Visible, formats, quit; formats: open;
// format: SetNamedSubStringValue, printout, Close) and records every call,
// with its member, its dispatch flags and the VARIANT type and value of each
// argument in the order the caller wrote them, to the file named by
// VEXORA_BT_LOG. VEXORA_BT_FAIL names a member whose every call fails, as
// BarTender's would on a template that does not open.
//
// A property put without the DISPID_PROPERTYPUT named argument is refused,
// as a type-library based server refuses it.

#include <cstdio>
#include <mutex>
#include <ole2.h>
#include <string>
#include <tlhelp32.h>
#include <windows.h>

namespace {

// {5B3C2A71-9E0D-4C8F-A1B6-7D42E9F03C15}
const CLSID kClsid = {0x5b3c2a71, 0x9e0d, 0x4c8f, {0xa1, 0xb6, 0x7d, 0x42, 0xe9, 0xf0, 0x3c, 0x15}};
const char kClsidText[] = "{5B3C2A71-9E0D-4C8F-A1B6-7D42E9F03C15}";
const char kProgId[] = "BarTender.Application.10";

HMODULE g_module = nullptr;
std::mutex g_logMutex;

std::string environment(const char* name) {
    char buf[1024] = {};
    const DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

void record(const std::string& line) {
    const std::string path = environment("VEXORA_BT_LOG");
    if (path.empty())
        return;
    std::lock_guard<std::mutex> lock(g_logMutex);
    if (FILE* f = std::fopen(path.c_str(), "ab")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

std::string utf8(const wchar_t* s, int length = -1) {
    if (!s)
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, s, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s, length, out.data(), n, nullptr, nullptr);
    if (length < 0 && !out.empty())
        out.pop_back(); // the NUL
    return out;
}

std::string typeName(VARTYPE vt) {
    static const struct {
        VARTYPE vt;
        const char* name;
    } names[] = {{VT_EMPTY, "VT_EMPTY"},     {VT_NULL, "VT_NULL"},
                 {VT_I2, "VT_I2"},           {VT_I4, "VT_I4"},
                 {VT_R4, "VT_R4"},           {VT_R8, "VT_R8"},
                 {VT_BSTR, "VT_BSTR"},       {VT_DISPATCH, "VT_DISPATCH"},
                 {VT_BOOL, "VT_BOOL"},       {VT_VARIANT, "VT_VARIANT"},
                 {VT_UNKNOWN, "VT_UNKNOWN"}, {VT_I1, "VT_I1"},
                 {VT_UI1, "VT_UI1"},         {VT_UI2, "VT_UI2"},
                 {VT_UI4, "VT_UI4"},         {VT_I8, "VT_I8"},
                 {VT_INT, "VT_INT"},         {VT_UINT, "VT_UINT"}};
    std::string out;
    const VARTYPE base = vt & VT_TYPEMASK;
    for (const auto& n : names)
        if (n.vt == base)
            out = n.name;
    if (out.empty())
        out = "VT_" + std::to_string(base);
    if (vt & VT_ARRAY)
        out += "|VT_ARRAY";
    if (vt & VT_BYREF)
        out += "|VT_BYREF";
    return out;
}

std::string describe(const VARIANT& v) {
    std::string out = typeName(V_VT(&v));
    const bool byRef = V_VT(&v) & VT_BYREF;
    switch (V_VT(&v) & VT_TYPEMASK) {
    case VT_BSTR: {
        BSTR s = byRef ? (V_BSTRREF(&v) ? *V_BSTRREF(&v) : nullptr) : V_BSTR(&v);
        out += "=\"" + utf8(s, s ? static_cast<int>(SysStringLen(s)) : 0) + "\"";
        break;
    }
    case VT_BOOL: {
        const VARIANT_BOOL b = byRef ? *V_BOOLREF(&v) : V_BOOL(&v);
        // Automation's true is -1; anything else is a caller's mistake worth seeing.
        out += b == VARIANT_TRUE    ? "=true"
               : b == VARIANT_FALSE ? "=false"
                                    : "=" + std::to_string(b);
        break;
    }
    case VT_I4:
        out += "=" + std::to_string(byRef ? *V_I4REF(&v) : V_I4(&v));
        break;
    case VT_I2:
        out += "=" + std::to_string(byRef ? *V_I2REF(&v) : V_I2(&v));
        break;
    case VT_VARIANT:
        if (byRef && V_VARIANTREF(&v))
            out += "(" + describe(*V_VARIANTREF(&v)) + ")";
        break;
    default:
        break;
    }
    return out;
}

std::string flagNames(WORD flags) {
    std::string out;
    const auto add = [&](WORD bit, const char* name) {
        if (flags & bit)
            out += (out.empty() ? "" : "+") + std::string(name);
    };
    add(DISPATCH_METHOD, "method");
    add(DISPATCH_PROPERTYGET, "get");
    add(DISPATCH_PROPERTYPUT, "put");
    add(DISPATCH_PROPERTYPUTREF, "putref");
    return out;
}

// "worker" unless the calling thread is the process's first one.
std::string threadKind() {
    DWORD first = 0;
    ULONGLONG earliest = ~0ULL;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 te{};
    te.dwSize = sizeof te;
    for (BOOL more = Thread32First(snap, &te); more; more = Thread32Next(snap, &te)) {
        if (te.th32OwnerProcessID != GetCurrentProcessId())
            continue;
        if (HANDLE t = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, te.th32ThreadID)) {
            FILETIME created, exited, kernel, user;
            if (GetThreadTimes(t, &created, &exited, &kernel, &user)) {
                const ULONGLONG c =
                    (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
                if (c < earliest) {
                    earliest = c;
                    first = te.th32ThreadID;
                }
            }
            CloseHandle(t);
        }
    }
    CloseHandle(snap);
    return GetCurrentThreadId() == first ? "main" : "worker";
}

struct Member {
    const wchar_t* name;
    DISPID id;
};

class Dispatch : public IDispatch {
public:
    Dispatch(const char* kind, const Member* members, std::size_t count)
        : m_kind(kind), m_members(members), m_count(count) {}
    virtual ~Dispatch() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&m_refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG n = InterlockedDecrement(&m_refs);
        if (n == 0) {
            record(std::string("release ") + m_kind);
            delete this;
        }
        return static_cast<ULONG>(n);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            for (std::size_t m = 0; m < m_count && i == 0; ++m)
                if (lstrcmpiW(names[0], m_members[m].name) == 0)
                    ids[0] = m_members[m].id;
            if (ids[i] == DISPID_UNKNOWN) {
                record(std::string("unknown ") + m_kind + "." + utf8(names[i]));
                hr = DISP_E_UNKNOWNNAME;
            }
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT*) override {
        const Member* member = nullptr;
        for (std::size_t m = 0; m < m_count; ++m)
            if (m_members[m].id == id)
                member = &m_members[m];
        if (!member)
            return DISP_E_MEMBERNOTFOUND;
        const std::string name = utf8(member->name);
        std::string line = std::string(m_kind) + "." + name + " " + flagNames(flags);
        // rgvarg holds the arguments last first.
        for (UINT i = params ? params->cArgs : 0; i > 0; --i)
            line += " " + describe(params->rgvarg[i - 1]);
        if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) &&
            !(params && params->cNamedArgs == 1 &&
              params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT)) {
            record(line + " -> refused: no DISPID_PROPERTYPUT");
            return DISP_E_PARAMNOTFOUND;
        }
        if (environment("VEXORA_BT_FAIL") == name) {
            record(line + " -> fails");
            if (!exception)
                return E_FAIL;
            *exception = EXCEPINFO{};
            exception->scode = E_FAIL;
            exception->bstrSource = SysAllocString(L"BarTender");
            exception->bstrDescription = SysAllocString(L"The format cannot be opened.");
            return DISP_E_EXCEPTION;
        }
        record(line);
        if (result)
            VariantInit(result);
        IDispatch* next = call(name);
        if (next && result) {
            V_VT(result) = VT_DISPATCH;
            V_DISPATCH(result) = next;
        } else if (next) {
            next->Release();
        }
        return S_OK;
    }

protected:
    // The object a member returns, with one reference for the caller.
    virtual IDispatch* call(const std::string&) { return nullptr; }

private:
    const char* m_kind;
    const Member* m_members;
    std::size_t m_count;
    LONG m_refs = 1;
};

const Member kFormatMembers[] = {{L"SetNamedSubStringValue", 1}, {L"printout", 2}, {L"Close", 3}};
const Member kFormatsMembers[] = {{L"open", 1}};
const Member kApplicationMembers[] = {{L"Visible", 1}, {L"formats", 2}, {L"quit", 3}};

class Format : public Dispatch {
public:
    Format() : Dispatch("Format", kFormatMembers, 3) {}
};

class Formats : public Dispatch {
public:
    Formats() : Dispatch("Formats", kFormatsMembers, 1) {}

protected:
    IDispatch* call(const std::string& name) override {
        return name == "open" ? new Format : nullptr;
    }
};

class Application : public Dispatch {
public:
    Application() : Dispatch("Application", kApplicationMembers, 3) {}

protected:
    IDispatch* call(const std::string& name) override {
        return name == "formats" ? new Formats : nullptr;
    }
};

std::string apartment() {
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    if (CoGetApartmentType(&type, &qualifier) != S_OK)
        return "none";
    return type == APTTYPE_MTA                              ? "MTA"
           : type == APTTYPE_STA || type == APTTYPE_MAINSTA ? "STA"
                                                            : "other";
}

class Factory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (outer)
            return CLASS_E_NOAGGREGATION;
        record(std::string("create ") + kProgId + " thread=" + threadKind() +
               " apartment=" + apartment());
        auto* app = new Application;
        const HRESULT hr = app->QueryInterface(iid, out);
        app->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

bool setKey(const std::string& key, const char* name, const std::string& value) {
    HKEY h;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const LONG r = RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                  static_cast<DWORD>(value.size() + 1));
    RegCloseKey(h);
    return r == ERROR_SUCCESS;
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        g_module = module;
    return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!IsEqualCLSID(clsid, kClsid))
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, out);
}

HRESULT WINAPI DllCanUnloadNow() {
    return S_FALSE;
}

HRESULT WINAPI DllRegisterServer() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(g_module, path, MAX_PATH);
    const std::string clsid = std::string("CLSID\\") + kClsidText;
    const bool ok = setKey(kProgId, nullptr, "BarTender application (test recorder)") &&
                    setKey(std::string(kProgId) + "\\CLSID", nullptr, kClsidText) &&
                    setKey(clsid, nullptr, "BarTender application (test recorder)") &&
                    setKey(clsid + "\\ProgID", nullptr, kProgId) &&
                    setKey(clsid + "\\InprocServer32", nullptr, path) &&
                    // Created in the caller's apartment, whichever it is: calls
                    // reach the recorder unmarshalled, with the caller's types.
                    setKey(clsid + "\\InprocServer32", "ThreadingModel", "Both");
    return ok ? S_OK : E_FAIL;
}

HRESULT WINAPI DllUnregisterServer() {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, kProgId);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, (std::string("CLSID\\") + kClsidText).c_str());
    return S_OK;
}

} // extern "C"
