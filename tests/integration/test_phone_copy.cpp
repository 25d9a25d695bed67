// The phone-side copy wait object: copies that cannot start, its destruction
// while a handler waits, and event calls made straight into its sink.
#include "test_fixture.h"

#include "connector/CopyFileWaitObject.h"

namespace {

using namespace itest;

class PhoneCopy : public PhoneTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        AddPhone(true, 6);
        m_image.Fill(L'C', {Sized(L"Data\\photo.bin", 300000)});
        Bind(SamplePath(L"raw.xml"), L"phone-raw");
        m_photo = MakeFile(L"\\C:\\Data\\photo.bin", L"C:\\Data\\photo.bin");
        m_data = MakeFolder(L"\\C:\\Data\\", L"C:\\Data\\");
        m_card = MakeMountPoint(L"\\E:\\", L'E');
    }
    void TearDown() override {
        m_photo.reset();  // they hold the phone's objects
        m_data.reset();
        m_card.reset();
        PhoneTest::TearDown();
    }

    // Copies that cannot start: the call's failure, and no wait object.
    void ToPc(const std::wstring& target, HRESULT expected) {
        CCopyFileWaitObject* wait = reinterpret_cast<CCopyFileWaitObject*>(1);
        EXPECT_EQ(expected, m_photo->CopyFileToPC(Executor(), _bstr_t(target.c_str()), &wait, &m_progress, &m_replace));
        EXPECT_EQ(nullptr, wait);
    }
    void FromPc(CFolder& folder, const std::wstring& source, HRESULT expected) {
        CCopyFileWaitObject* wait = reinterpret_cast<CCopyFileWaitObject*>(1);
        EXPECT_EQ(expected, folder.CopyFileFromPC(Executor(), _bstr_t(source.c_str()), &wait, &m_progress, &m_replace));
        EXPECT_EQ(nullptr, wait);
    }

    RecordingProgress m_progress;
    CountingReplace m_replace;
    std::unique_ptr<CSymbianFile> m_photo;
    std::unique_ptr<CSymbianFolder> m_data;
    std::unique_ptr<CSymbianMountPoint> m_card;
};

TEST_F(PhoneCopy, CopiesThatCannotStartLeaveNoWaitObject) {
    const std::wstring source = m_image.WritePcFile(L"up.txt", "x");
    FailNext(simCallCopyToPC, kNotReady);
    ToPc(m_image.PcFolder() + L"\\x.bin", kNotReady);
    FailNext(simCallCopyFromPC, kNotReady);
    FromPc(*m_data, source, kNotReady);
    FailNext(simCallStorageItem, static_cast<HRESULT>(0x80070003));  // the drive's root
    FromPc(*m_card, source, static_cast<HRESULT>(0x80070003));
    CCopyFileWaitObject* wait = nullptr;
    EXPECT_EQ(E_INVALIDARG, m_photo->CopyFileToPC(nullptr, _bstr_t(L"Z:\\x"), &wait, nullptr, nullptr));

    // After unbinding the phone is not asked at all.
    ASSERT_EQ(S_OK, Unbind());
    ASSERT_HRESULT_SUCCEEDED(m_control->ResetCallCounts());
    ToPc(m_image.PcFolder() + L"\\y.bin", E_FAIL);
    FromPc(*m_data, source, E_FAIL);
    FromPc(*m_card, source, E_FAIL);
    EXPECT_EQ(0, Calls());

    // Nor can a wait object listen without a bound connector.
    const char* thrown = nullptr;
    try {
        CCopyFileWaitObjectImpl orphan(Executor(), Connector(), nullptr, nullptr);
    } catch (const char* text) {
        thrown = text;
    }
    EXPECT_STREQ("Unable to advise to ISCEvents", thrown);
}

// A wait object whose copy never got its request id is destroyed while a
// handler waits for that id on another copy's thread: the handler gives up,
// the other copy goes on, and nothing is left pointing at the freed object.
TEST_F(PhoneCopy, DestroyingTheWaitObjectReleasesAHandlerWaitingForItsId) {
    std::unique_ptr<CCopyFileWaitObjectImpl> wait(new CCopyFileWaitObjectImpl(Executor(), Connector(), nullptr, &m_progress));
    EXPECT_NE(CCopyFileWaitObjectImpl::kNotAdvised, wait->GetCookie());
    auto recorder = EventRecorder::Create();
    SinkConnection connection(m_app.Get(), recorder.Get());
    ASSERT_HRESULT_SUCCEEDED(connection.Result());
    // With early events a copy call returns only once a sink waiting for its
    // request id pumps the copy thread's messages: the handler is waiting.
    ASSERT_HRESULT_SUCCEEDED(m_control->put_EarlyEvents(VARIANT_TRUE));
    auto file = Item<ISCDeviceStorageFile>(L"C:\\Data\\photo.bin", IID_ISCDeviceStorageFile);
    const std::wstring target = m_image.PcFolder() + L"\\other.bin";
    com::UniqueBstr targetText(target.c_str());
    long requestId = 0;
    ASSERT_HRESULT_SUCCEEDED(file->CopyFileToPC(targetText.Get(), &requestId));

    wait.reset();
    EXPECT_EQ(S_OK, recorder->WaitForCompletion(requestId));
    EXPECT_GE(m_log.Find("Wait for Request ID failed.", 0, "ERROR"), 0);
    EXPECT_TRUE(m_progress.Percents().empty());
    EXPECT_EQ(PatternBytes(300000), ReadFileBytes(target));
}

// Event calls made straight into the sink, as the connection point makes them.
class PhoneCopyEvents : public PhoneCopy {
protected:
    void SetUp() override {
        PhoneCopy::SetUp();
        // An executor without a thread: the flag tells whether it was signalled.
        m_wait.reset(new CCopyFileWaitObjectImpl(&m_idle, Connector(), &m_replace, &m_progress));
        m_wait->SetRequestId(5);
    }
    void TearDown() override {
        m_wait.reset();
        PhoneCopy::TearDown();
    }
    static VARIANT V(VARTYPE vt, LONGLONG value = 0, void* ref = nullptr) {
        VARIANT v;
        VariantInit(&v);
        v.vt = vt;
        if (vt == VT_BSTR) v.bstrVal = SysAllocString(L"C:\\Data\\photo.bin");
        else if (vt & VT_BYREF) v.byref = ref;
        else if (vt == VT_BOOL) v.boolVal = static_cast<VARIANT_BOOL>(value);
        else v.lVal = static_cast<LONG>(value);
        return v;
    }
    // Arguments in declaration order; DISPPARAMS holds them last first.
    HRESULT Fire(DISPID id, std::vector<VARIANT> args) {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        HRESULT hr = m_wait->EventSink()->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        for (VARIANT& v : args) VariantClear(&v);
        return hr;
    }
    HRESULT Progress(long id, long percent, VARIANT_BOOL* cancel) {
        return Fire(13, {V(VT_I4, id), V(VT_BSTR), V(VT_I4, 1000), V(VT_I4, percent), V(VT_BYREF | VT_BOOL, 0, cancel)});
    }
    HRESULT Error(long id, long type, long code, VARIANT_BOOL canContinue, VARIANT_BOOL* goOn) {
        return Fire(14, {V(VT_I4, id), V(VT_I4, type), V(VT_I4, code), V(VT_BOOL, canContinue),
                         V(VT_BYREF | VT_BOOL, 0, goOn)});
    }
    HRESULT Existing(long id, long* action, VARIANT_BOOL* cancel) {
        return Fire(15, {V(VT_I4, id), V(VT_BSTR), V(VT_I4, 1), V(VT_I4, 2), V(VT_I4, 3), V(VT_I4, 4), V(VT_I4, 5),
                         V(VT_I4, 6), V(VT_BYREF | VT_I4, 0, action), V(VT_BYREF | VT_BOOL, 0, cancel)});
    }
    HRESULT Complete(long id, long hr) { return Fire(16, {V(VT_I4, id), V(VT_I4, hr)}); }

    CAsynchOperationExecutor m_idle;
    std::unique_ptr<CCopyFileWaitObjectImpl> m_wait;
};

TEST_F(PhoneCopyEvents, OnlyTheOwnRequestIsAnsweredAndCompletesTheWait) {
    const VARIANT_BOOL untouched = 0x1234;
    VARIANT_BOOL cancel = untouched, goOn = untouched;
    long action = 77;
    // Another request's events change nothing.
    m_progress.cancelAt = 0;
    EXPECT_EQ(S_OK, Progress(6, 10, &cancel));
    EXPECT_EQ(S_OK, Error(6, 8, E_FAIL, VARIANT_TRUE, &goOn));
    EXPECT_EQ(S_OK, Existing(6, &action, &cancel));
    EXPECT_EQ(S_OK, Complete(6, E_FAIL));
    EXPECT_EQ(untouched, cancel);
    EXPECT_EQ(untouched, goOn);
    EXPECT_EQ(77, action);
    EXPECT_TRUE(m_progress.Percents().empty());
    EXPECT_FALSE(m_wait->IsSignalled());

    // The own request: cancel goes out as VARIANT_TRUE, an existing file is
    // overwritten, the error's can-continue comes back, errors do not end the wait.
    EXPECT_EQ(S_OK, Progress(5, 10, &cancel));
    EXPECT_EQ(VARIANT_TRUE, cancel);
    EXPECT_EQ(std::vector<short>{10}, m_progress.Percents());
    EXPECT_EQ(std::vector<std::wstring>{L"C:\\Data\\photo.bin"}, m_progress.Sources());
    m_progress.cancelAt = -1;
    EXPECT_EQ(S_OK, Progress(5, 20, &cancel));
    EXPECT_EQ(VARIANT_FALSE, cancel);
    cancel = VARIANT_TRUE;
    EXPECT_EQ(S_OK, Existing(5, &action, &cancel));
    EXPECT_EQ(2, action);
    EXPECT_EQ(VARIANT_FALSE, cancel);
    EXPECT_EQ(S_OK, Error(5, 8, E_FAIL, VARIANT_TRUE, &goOn));
    EXPECT_EQ(VARIANT_TRUE, goOn);
    EXPECT_EQ(S_OK, Error(5, 8, E_FAIL, VARIANT_FALSE, &goOn));
    EXPECT_EQ(VARIANT_FALSE, goOn);
    EXPECT_FALSE(m_wait->IsSignalled());
    EXPECT_EQ(0, m_replace.calls.load());

    // Completion: 0 stays 0, failures map to the framework's codes.
    const std::pair<long, KVFMOpResult> completions[] = {
        {static_cast<long>(0x80070070), KVFM_E_NO_SPACE}, {0, KVFM_OK}, {1, KVFM_OK},
        {static_cast<long>(0x800704C7), KVFM_ABORTED}, {static_cast<long>(0x80072745), KVFM_E_DISCONNECTED},
        {E_FAIL, KVFM_E_FAILED}};
    for (const auto& c : completions) {
        m_wait->SetRequestId(9);
        EXPECT_FALSE(m_wait->IsSignalled());
        EXPECT_EQ(S_OK, Complete(9, c.first));
        EXPECT_TRUE(m_wait->IsSignalled());
        EXPECT_EQ(static_cast<LONG>(c.second), m_wait->GetResult()) << c.first;
    }

    // Calls that do not fit the events are refused untouched.
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Fire(12, {V(VT_I4, 9)}));
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, Fire(16, {V(VT_I4, 9)}));
    EXPECT_EQ(DISP_E_TYPEMISMATCH,  // the cancel flag must come by reference
              Fire(13, {V(VT_I4, 9), V(VT_BSTR), V(VT_I4, 0), V(VT_I4, 10), V(VT_BOOL, 0)}));
}

} // namespace
