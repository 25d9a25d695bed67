// Set-up of the object model tests: the service bound to a simulated phone as
// the Device Manager binds it, objects opened through IKVFileMgmt, and a
// probe folder that draws transaction ids and proves, by the worker's
// first-in first-out order, that earlier operations have run.
#pragma once

#include "test_folder_events_sink.h"
#include "test_symbian_fixture.h"

#include <functional>

namespace omtest {

using namespace symtest;

inline std::wstring Text(const com::UniqueBstr& s) { return std::wstring(s.c_str(), s.Length()); }

inline std::wstring PathOf(IKVFMObject* object) {
    com::UniqueBstr path;
    if (!object || FAILED(object->get_Path(path.Receive()))) return L"<failed>";
    return Text(path);
}
inline std::wstring NameOf(IKVFMObject* object) {
    com::UniqueBstr name;
    if (!object || FAILED(object->get_Name(name.Receive()))) return L"<failed>";
    return Text(name);
}
inline LONG TypeOf(IKVFMObject* object) {
    LONG kind = -1;
    if (object) object->get_Type(&kind);
    return kind;
}
// The COM identity of an object (its IUnknown).
inline IUnknown* Identity(IUnknown* object) {
    ComPtr<IUnknown> unknown;
    if (!object || FAILED(object->QueryInterface(IID_IUnknown, unknown.ReceiveVoid()))) return nullptr;
    return unknown.Get();  // the object stays alive through the caller's reference
}
inline VARIANT Key(LONG index) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = index;
    return v;
}
inline VARIANT Key(BSTR name) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = name;
    return v;
}
using evtest::Advise;
using evtest::CountOf;
using evtest::EventPoint;
using Sink = evtest::FolderSink;

class ObjectModelTest : public PhoneTest {
protected:
    void TearDown() override {
        m_probe.Reset();
        m_probeSink.Reset();
        m_fm.Reset();
        PhoneTest::TearDown();
    }
    void BindAs(const std::wstring& config, const wchar_t* uid) {
        Bind(config, uid);
        ASSERT_EQ(S_OK, m_service->CreateFileMgmt(m_fm.Receive()));
    }
    ComPtr<IKVFMFolder> Folder(const std::wstring& path) {
        ComPtr<IKVFMFolder> folder;
        com::UniqueBstr p(path.c_str());
        EXPECT_EQ(S_OK, m_fm->CreateFMFolder(p.Get(), folder.Receive())) << com::ToAnsi(path.c_str());
        return folder;
    }
    ComPtr<IKVFMFile> FileAt(const std::wstring& path) {
        ComPtr<IKVFMFile> file;
        com::UniqueBstr p(path.c_str());
        EXPECT_EQ(S_OK, m_fm->CreateFMFile(p.Get(), file.Receive())) << com::ToAnsi(path.c_str());
        return file;
    }
    // Draws an id with a real listing on the probe folder and waits for its
    // event; every operation started before it has run by then.
    LONG DrawId() {
        if (!m_probe) {
            m_probe = Folder(m_probePath);
            m_probeSink = Sink::Create();
            if (m_probe) Advise(m_probe.Get(), m_probeSink.Get());
        }
        LONG id = 0;
        if (!m_probe) return -1;
        EXPECT_EQ(S_OK, m_probe->GetObjectsAsynch(&id));
        EXPECT_TRUE(m_probeSink->WaitFor(id)) << "no event for transaction " << id;
        return id;
    }

    std::wstring m_probePath;
    ComPtr<IKVFileMgmt> m_fm;
    ComPtr<IKVFMFolder> m_probe;
    ComPtr<Sink> m_probeSink;
};

} // namespace omtest
