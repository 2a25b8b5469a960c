// BarTender on Windows: late-bound IDispatch calls on the automation server
// registered as BarTender.Application.10, with the argument types it expects.

#include "data/SystemMessage.h"
#include "print/Backends.h"

#include <cstdio>
#include <vector>

// windows.h first: the automation headers build on its types.
// clang-format off
#include <windows.h>
#include <oleauto.h>
// clang-format on

namespace vx::print {
namespace {

constexpr const wchar_t* kProgId = L"BarTender.Application.10";

std::string hresultText(HRESULT hr) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    const std::string text = data::platform::systemMessage(static_cast<DWORD>(hr));
    return text.empty() ? std::string(code) : std::string(code) + " " + text;
}

// Texts are bytes of the ANSI code page in the station; COM speaks UTF-16.
BSTR toBstr(const std::string& bytes) {
    const int n =
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(n));
    if (!out)
        throw PrintError("out of memory");
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), out, n);
    return out;
}

std::string fromWide(const wchar_t* text) {
    if (!text)
        return {};
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<std::size_t>(n - 1) : 0, '\0');
    if (n > 1)
        WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

VARIANT boolArg(bool v) {
    VARIANT a;
    VariantInit(&a);
    a.vt = VT_BOOL;
    a.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
    return a;
}

VARIANT intArg(std::int32_t v) {
    VARIANT a;
    VariantInit(&a);
    a.vt = VT_I4;
    a.lVal = v;
    return a;
}

VARIANT stringArg(const std::string& bytes) {
    VARIANT a;
    VariantInit(&a);
    a.vt = VT_BSTR;
    a.bstrVal = toBstr(bytes);
    return a;
}

// Automation needs COM on the calling thread; the print worker's thread runs
// job after job, so it stays initialised until the thread ends.
struct ComApartment {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~ComApartment() {
        if (SUCCEEDED(hr))
            CoUninitialize();
    }
};

void enterApartment() {
    thread_local ComApartment apartment;
    // Already initialised otherwise by whoever owns this thread: COM is usable.
    if (FAILED(apartment.hr) && apartment.hr != RPC_E_CHANGED_MODE)
        throw PrintError("COM could not be initialised: " + hresultText(apartment.hr));
}

void drop(IDispatch*& p) {
    if (p)
        p->Release();
    p = nullptr;
}

class BarTenderBackend final : public PrintBackend {
public:
    ~BarTenderBackend() override {
        drop(m_format);
        drop(m_formats);
        drop(m_app);
    }

    std::string name() const override { return "BarTender"; }

    void create() override {
        enterApartment();
        CLSID clsid;
        HRESULT hr = CLSIDFromProgID(kProgId, &clsid);
        if (FAILED(hr))
            throw PrintError("BarTender.Application.10 is not registered: " + hresultText(hr));
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(&m_app));
        if (FAILED(hr))
            throw PrintError("BarTender.Application.10 could not be created: " + hresultText(hr));
    }

    void Visible(bool visible) override {
        VARIANT a = boolArg(visible);
        call(m_app, L"Visible", DISPATCH_PROPERTYPUT, {&a});
    }

    void formats() override {
        m_formats = dispatchResult(m_app, L"formats", DISPATCH_PROPERTYGET, {});
    }

    void open(const std::string& templatePath, bool closeOutOfDate,
              const std::string& password) override {
        // The path goes by reference, as BarTender's open declares it.
        BSTR path = toBstr(templatePath);
        VARIANT a1;
        VariantInit(&a1);
        a1.vt = VT_BSTR | VT_BYREF;
        a1.pbstrVal = &path;
        VARIANT a2 = boolArg(closeOutOfDate);
        VARIANT a3 = stringArg(password);
        try {
            m_format = dispatchResult(m_formats, L"open", DISPATCH_METHOD, {&a1, &a2, &a3});
        } catch (...) {
            SysFreeString(path);
            VariantClear(&a3);
            throw;
        }
        SysFreeString(path);
        VariantClear(&a3);
        drop(m_formats); // the format is all the job needs from here on
    }

    void SetNamedSubStringValue(const std::string& name, const std::string& value) override {
        VARIANT a1 = stringArg(name);
        VARIANT a2 = stringArg(value);
        try {
            call(m_format, L"SetNamedSubStringValue", DISPATCH_METHOD, {&a1, &a2});
        } catch (...) {
            VariantClear(&a1);
            VariantClear(&a2);
            throw;
        }
        VariantClear(&a1);
        VariantClear(&a2);
    }

    void printout(std::int32_t copies, bool showDialog) override {
        VARIANT a1 = intArg(copies);
        VARIANT a2 = boolArg(showDialog);
        call(m_format, L"printout", DISPATCH_METHOD, {&a1, &a2});
        m_sent += copies;
    }

    void Close(std::int32_t saveChanges) override {
        VARIANT a = intArg(saveChanges);
        call(m_format, L"Close", DISPATCH_METHOD, {&a});
    }

    void release() override { drop(m_format); }
    std::optional<int> labelsSent() const override { return m_sent; }

    void quit(std::int32_t saveChanges) override {
        VARIANT a = intArg(saveChanges);
        call(m_app, L"quit", DISPATCH_METHOD, {&a});
        drop(m_app);
    }

private:
    // Calls a member by name; args in the order of the member's parameters.
    VARIANT invoke(IDispatch* on, const wchar_t* member, WORD flags,
                   const std::vector<VARIANT*>& args) {
        const std::string what = fromWide(member);
        if (!on)
            throw PrintError(what + ": no object to call it on");
        DISPID id = 0;
        LPOLESTR names[] = {const_cast<LPOLESTR>(member)};
        HRESULT hr = on->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr))
            throw PrintError(what + ": " + hresultText(hr));
        // IDispatch takes the arguments last to first.
        std::vector<VARIANT> reversed;
        for (auto it = args.rbegin(); it != args.rend(); ++it)
            reversed.push_back(**it);
        DISPPARAMS params{};
        params.rgvarg = reversed.empty() ? nullptr : reversed.data();
        params.cArgs = static_cast<UINT>(reversed.size());
        DISPID put = DISPID_PROPERTYPUT;
        if (flags & DISPATCH_PROPERTYPUT) {
            params.rgdispidNamedArgs = &put;
            params.cNamedArgs = 1;
        }
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO error{};
        UINT badArg = 0;
        hr = on->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                        (flags & DISPATCH_PROPERTYPUT) ? nullptr : &result, &error, &badArg);
        if (FAILED(hr)) {
            std::string message = what + ": ";
            if (hr == DISP_E_EXCEPTION && error.bstrDescription)
                message += fromWide(error.bstrDescription);
            else
                message += hresultText(hr);
            SysFreeString(error.bstrSource);
            SysFreeString(error.bstrDescription);
            SysFreeString(error.bstrHelpFile);
            throw PrintError(message);
        }
        return result;
    }

    void call(IDispatch* on, const wchar_t* member, WORD flags, const std::vector<VARIANT*>& args) {
        VARIANT r = invoke(on, member, flags, args);
        VariantClear(&r);
    }

    IDispatch* dispatchResult(IDispatch* on, const wchar_t* member, WORD flags,
                              const std::vector<VARIANT*>& args) {
        VARIANT r = invoke(on, member, flags, args);
        if (r.vt != VT_DISPATCH || !r.pdispVal) {
            VariantClear(&r);
            throw PrintError(fromWide(member) + ": the automation server returned no object");
        }
        return r.pdispVal; // the reference the result held is now ours
    }

    IDispatch* m_app = nullptr;
    IDispatch* m_formats = nullptr;
    IDispatch* m_format = nullptr;
    int m_sent = 0;
};

} // namespace

std::unique_ptr<PrintBackend> makeBarTenderBackend() {
    return std::make_unique<BarTenderBackend>();
}

bool barTenderRegistered() {
    // A look in the registry's classes; it needs no COM set up on this thread.
    CLSID clsid;
    return CLSIDFromProgID(kProgId, &clsid) == S_OK;
}

} // namespace vx::print
