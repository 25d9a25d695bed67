#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <functional>
#include <string>
#include <vector>

#include "com/ComConnectionPoint.h"
#include "com/ComEnum.h"
#include "com/ComObject.h"

namespace {

using com::ComPtr;
using com::EventArg;

const IID kEventsIid = {0x5b7c0c61, 0x3a2e, 0x4f0b, {0x9c, 0x51, 0x6e, 0x1d, 0x2a, 0x7b, 0x8f, 0x01}};

// A stack-held IDispatch that counts references and records calls; it serves as
// enumerated item, enumerator owner and event sink.
class FakeDispatch : public IDispatch {
public:
    struct Call { DISPID id; LCID lcid; WORD flags; bool nullIid, noNamed, hasResult; UINT args; };

    LONG refs = 0, addRefCalls = 0;
    bool answersDispatch = true;
    const IID* eventIid = nullptr;  // answered as well when set
    std::vector<IID> queried;
    std::vector<Call> calls;
    std::function<HRESULT(DISPPARAMS*)> onInvoke;

    STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override {
        queried.push_back(iid);
        *ppv = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !(answersDispatch && IsEqualIID(iid, IID_IDispatch)) &&
            !(eventIid && IsEqualIID(iid, *eventIid)))
            return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { ++addRefCalls; return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* p, VARIANT* result,
                        EXCEPINFO*, UINT*) override {
        calls.push_back({id, lcid, flags, IsEqualIID(iid, IID_NULL) != 0,
                         p->cNamedArgs == 0 && !p->rgdispidNamedArgs, result != nullptr, p->cArgs});
        return onInvoke ? onInvoke(p) : S_OK;
    }
};

// ---- enumerators ----

struct ComSupportEnum : ::testing::Test {
    FakeDispatch owner, items[3];
    ComPtr<IEnumVARIANT> e;

    void SetUp() override {
        ComPtr<IUnknown> unk;
        ASSERT_EQ(S_OK, com::CreateVariantEnumerator(&owner, std::vector<IDispatch*>{&items[0], &items[1], &items[2]},
                                                     unk.Receive()));
        ASSERT_EQ(S_OK, unk.As(e, IID_IEnumVARIANT));
    }
    void TearDown() override {
        e = nullptr;
        EXPECT_EQ(0, owner.refs);
        for (auto& item : items) EXPECT_EQ(0, item.refs);
    }
    // The item a VARIANT holds as an object: 0..2, else -1.
    int IndexOf(const VARIANT& v) {
        for (int i = 0; i < 3; ++i)
            if (v.vt == VT_DISPATCH && v.pdispVal == &items[i]) return i;
        return -1;
    }
    // Next(1): the item's index, -2 at the end (S_FALSE, nothing fetched), -3 otherwise.
    int NextIndex(IEnumVARIANT* en) {
        com::UniqueVariant v;
        ULONG fetched = 99;
        HRESULT hr = en->Next(1, v.Get(), &fetched);
        if (hr == S_FALSE) return fetched == 0 ? -2 : -3;
        return hr == S_OK && fetched == 1 ? IndexOf(*v.Get()) : -3;
    }
};

TEST_F(ComSupportEnum, NextYieldsItemsInOrderThenSFalse) {
    for (int i = 0; i < 3; ++i) {
        com::UniqueVariant v;
        ASSERT_EQ(S_OK, e->Next(1, v.Get(), nullptr));
        EXPECT_EQ(i, IndexOf(*v.Get()));
        EXPECT_EQ(2, items[i].refs);  // snapshot + the handed-out VARIANT
    }
    EXPECT_EQ(-2, NextIndex(e.Get()));

    e->Reset();
    VARIANT v[3];
    ULONG fetched = 0;
    EXPECT_EQ(E_INVALIDARG, e->Next(2, v, nullptr));
    EXPECT_EQ(E_POINTER, e->Next(1, nullptr, &fetched));
    ASSERT_EQ(S_OK, e->Next(2, v, &fetched));
    ASSERT_EQ(2u, fetched);
    EXPECT_EQ(0, IndexOf(v[0]));
    EXPECT_EQ(1, IndexOf(v[1]));
    VariantClear(&v[0]);
    VariantClear(&v[1]);
    ASSERT_EQ(S_FALSE, e->Next(3, v, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(2, IndexOf(v[0]));
    VariantClear(&v[0]);
}

TEST_F(ComSupportEnum, SkipResetAndCloneKeepPositionAndOwner) {
    EXPECT_EQ(S_OK, e->Skip(1));
    ComPtr<IEnumVARIANT> clone;
    ASSERT_EQ(S_OK, e->Clone(clone.Receive()));
    EXPECT_EQ(2, owner.refs);  // each enumerator keeps the owner
    EXPECT_EQ(1, NextIndex(clone.Get()));
    EXPECT_EQ(1, NextIndex(e.Get()));  // positions are independent
    EXPECT_EQ(S_FALSE, e->Skip(5));
    EXPECT_EQ(-2, NextIndex(e.Get()));
    EXPECT_EQ(S_OK, e->Reset());
    EXPECT_EQ(0, NextIndex(e.Get()));
    e = nullptr;
    EXPECT_EQ(1, owner.refs);
    EXPECT_EQ(2, NextIndex(clone.Get()));  // the shared snapshot outlives the original
    EXPECT_EQ(-2, NextIndex(clone.Get()));
}

TEST(ComSupportEnumOther, CopiesVariantsAndEndsAtOnceWhenEmpty) {
    com::UniqueVariant src, v;
    src->vt = VT_BSTR;
    src->bstrVal = SysAllocString(L"abc");
    ComPtr<IUnknown> unk;
    ComPtr<IEnumVARIANT> e;
    ASSERT_EQ(S_OK, com::CreateVariantEnumeratorFromVariants(nullptr, src.Get(), 1, unk.Receive()));
    ASSERT_EQ(S_OK, unk.As(e, IID_IEnumVARIANT));
    ASSERT_EQ(S_OK, e->Next(1, v.Get(), nullptr));
    ASSERT_EQ(VT_BSTR, v->vt);
    EXPECT_STREQ(L"abc", v->bstrVal);
    EXPECT_NE(src->bstrVal, v->bstrVal);

    ASSERT_EQ(S_OK, com::CreateVariantEnumerator(nullptr, std::vector<ComPtr<IDispatch>>{}, unk.Receive()));
    ASSERT_EQ(S_OK, unk.As(e, IID_IEnumVARIANT));
    ULONG fetched = 7;
    EXPECT_EQ(S_FALSE, e->Next(1, v.Receive(), &fetched));
    EXPECT_EQ(0u, fetched);
}

// ---- connection points ----

class EventSource : public com::ComObjectRoot<com::SingleThreadModel>, public com::ConnectionPointContainerImpl {
public:
    EventSource() : ConnectionPointContainerImpl(kEventsIid, m_lock) {}
    BEGIN_COM_MAP(EventSource)
        COM_INTERFACE_ENTRY(IConnectionPointContainer)
    END_COM_MAP()
    void FinalRelease() { ++s_destroyed; }
    static int s_destroyed;

private:
    com::CriticalSection m_lock;
};
int EventSource::s_destroyed = 0;

struct ComSupportConnectionPoint : ::testing::Test {
    com::ComObject<EventSource>* raw = nullptr;
    ComPtr<IConnectionPointContainer> source;
    FakeDispatch a, b, c, d;

    void SetUp() override {
        ASSERT_EQ(S_OK, com::ComObject<EventSource>::CreateInstance(&raw));
        source = ComPtr<IConnectionPointContainer>(raw);
    }
    void TearDown() override {
        source = nullptr;
        for (FakeDispatch* s : {&a, &b, &c, &d}) EXPECT_EQ(0, s->refs);
    }
    com::ConnectionPoint& Cp() { return raw->EventConnectionPoint(); }
    DWORD Advise(IUnknown* sink) {
        DWORD cookie = 0;
        EXPECT_EQ(S_OK, Cp().Advise(sink, &cookie));
        return cookie;
    }
};

TEST_F(ComSupportConnectionPoint, CookiesAreStableSlotsAndEmptySlotsAreReused) {
    EXPECT_EQ(1u, Advise(&a));
    EXPECT_EQ(2u, Advise(&b));
    EXPECT_EQ(3u, Advise(&c));
    EXPECT_EQ(1, b.refs);
    EXPECT_EQ(S_OK, Cp().Unadvise(2));
    EXPECT_EQ(0, b.refs);
    for (DWORD bad : {2u, 0u, 4u}) EXPECT_EQ(CONNECT_E_NOCONNECTION, Cp().Unadvise(bad));
    EXPECT_EQ(2u, Advise(&d));
    EXPECT_EQ(4u, Advise(&b));

    ComPtr<IEnumConnections> en;
    ASSERT_EQ(S_OK, Cp().EnumConnections(en.Receive()));
    CONNECTDATA cd[5];
    ULONG fetched = 0;
    ASSERT_EQ(S_FALSE, en->Next(5, cd, &fetched));
    ASSERT_EQ(4u, fetched);
    IDispatch* expected[] = {&a, &d, &c, &b};
    for (ULONG i = 0; i < fetched; ++i) {
        EXPECT_EQ(i + 1, cd[i].dwCookie);
        EXPECT_EQ(expected[i], cd[i].pUnk);
        cd[i].pUnk->Release();
    }
}

TEST_F(ComSupportConnectionPoint, AdviseAsksForTheEventInterfaceThenIDispatch) {
    a.eventIid = &kEventsIid;
    Advise(&a);
    ASSERT_FALSE(a.queried.empty());
    EXPECT_TRUE(IsEqualIID(a.queried[0], kEventsIid));
    Advise(&b);
    ASSERT_GE(b.queried.size(), 2u);
    EXPECT_TRUE(IsEqualIID(b.queried[1], IID_IDispatch));
    EXPECT_EQ(1, a.refs);
    EXPECT_EQ(1, b.refs);

    c.answersDispatch = false;
    DWORD cookie = 5;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, Cp().Advise(&c, &cookie));
    EXPECT_EQ(0u, cookie);
    EXPECT_EQ(E_POINTER, Cp().Advise(nullptr, &cookie));
    EXPECT_EQ(E_POINTER, Cp().Advise(&d, nullptr));
    EXPECT_EQ(2u, Cp().ConnectionCount());
}

TEST_F(ComSupportConnectionPoint, FiresWithArgumentsLastFirst) {
    FakeDispatch object;
    LONG answer = 0;
    a.onInvoke = [&](DISPPARAMS* p) {
        const VARIANT* v = p->rgvarg;
        const VARTYPE types[] = {VT_BYREF | VT_I4, VT_DISPATCH, VT_I2, VT_DISPATCH, VT_UI4, VT_DATE, VT_BSTR, VT_I4};
        for (int i = 0; i < 8; ++i) EXPECT_EQ(types[i], V_VT(&v[i])) << i;
        EXPECT_EQ(&answer, V_I4REF(&v[0]));
        EXPECT_EQ(nullptr, V_DISPATCH(&v[1]));
        EXPECT_EQ(-3, V_I2(&v[2]));
        EXPECT_EQ(&object, V_DISPATCH(&v[3]));
        EXPECT_EQ(1, object.refs);  // held for the call only
        EXPECT_EQ(0x80004005u, V_UI4(&v[4]));
        EXPECT_EQ(1.5, V_DATE(&v[5]));
        EXPECT_STREQ(L"a.txt", V_BSTR(&v[6]));
        EXPECT_EQ(7, V_I4(&v[7]));
        return S_OK;
    };
    Advise(&a);
    EXPECT_EQ(S_OK, Cp().Fire(44, {EventArg::I4(7), EventArg::Bstr(L"a.txt"), EventArg::Date(1.5),
                                   EventArg::UI4(0x80004005u), EventArg::Dispatch(&object), EventArg::I2(-3),
                                   EventArg::Dispatch(nullptr), EventArg::ByRefI4(&answer)}));
    ASSERT_EQ(1u, a.calls.size());
    const FakeDispatch::Call& call = a.calls[0];
    EXPECT_EQ(44, call.id);
    EXPECT_EQ(0x400u, call.lcid);
    EXPECT_EQ(DISPATCH_METHOD, call.flags);
    EXPECT_TRUE(call.nullIid);
    EXPECT_TRUE(call.noNamed);
    EXPECT_TRUE(call.hasResult);
    EXPECT_EQ(8u, call.args);
    EXPECT_EQ(0, object.refs);
}

TEST_F(ComSupportConnectionPoint, EachSinkGetsFreshArgumentsAndWritesThroughByRef) {
    SHORT cancel = 0;
    std::vector<std::wstring> seen;
    auto scribble = [&](DISPPARAMS* p) {
        seen.push_back(V_BSTR(&p->rgvarg[2]));
        EXPECT_EQ(5, V_I4(&p->rgvarg[1]));
        // Change this sink's copies; the next sink must not see it.
        V_BSTR(&p->rgvarg[2])[0] = L'X';
        V_I4(&p->rgvarg[1]) = 999;
        *V_I2REF(&p->rgvarg[0]) -= 1;
        return S_OK;
    };
    a.onInvoke = b.onInvoke = scribble;
    Advise(&a);
    Advise(&b);
    const wchar_t* name = L"file.bin";
    EXPECT_EQ(S_OK, Cp().Fire(43, {EventArg::Bstr(name), EventArg::I4(5), EventArg::ByRefI2(&cancel)}));
    EXPECT_EQ((std::vector<std::wstring>{L"file.bin", L"file.bin"}), seen);
    EXPECT_EQ(-2, cancel);  // both sinks wrote to the caller's flag
}

TEST_F(ComSupportConnectionPoint, NoSinksMeansNoArgumentsBuilt) {
    FakeDispatch object;
    EXPECT_EQ(S_OK, Cp().Fire(11, {EventArg::Dispatch(&object)}));
    Cp().Unadvise(Advise(&a));  // an empty slot is no connection either
    EXPECT_EQ(S_OK, Cp().Fire(11, {EventArg::Dispatch(&object)}));
    EXPECT_EQ(0, object.addRefCalls);
    EXPECT_TRUE(a.calls.empty());
}

TEST_F(ComSupportConnectionPoint, SinksRemovedDuringFiringAreSkippedAndAddedOnesWait) {
    DWORD cookieB = 0;
    a.onInvoke = [&](DISPPARAMS*) {
        EXPECT_EQ(4u, Advise(&d));  // appended after the count taken at the start
        EXPECT_EQ(S_OK, Cp().Unadvise(cookieB));
        EXPECT_EQ(S_OK, Cp().Unadvise(1));  // itself: the firing holds it till its call returns
        EXPECT_EQ(1, a.refs);
        return S_OK;
    };
    Advise(&a);
    cookieB = Advise(&b);
    Advise(&c);
    c.onInvoke = [](DISPPARAMS*) { return DISP_E_MEMBERNOTFOUND; };
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Cp().Fire(1, {EventArg::UI4(0), EventArg::I4(1)}));
    EXPECT_EQ(1u, a.calls.size());
    EXPECT_TRUE(b.calls.empty());
    EXPECT_EQ(1u, c.calls.size());
    EXPECT_TRUE(d.calls.empty());
    EXPECT_EQ(0, a.refs);

    c.onInvoke = [](DISPPARAMS*) { return E_FAIL; };
    EXPECT_EQ(S_OK, Cp().Fire(1, {}));  // d, called last, succeeds
    ASSERT_EQ(1u, d.calls.size());
    EXPECT_EQ(0u, d.calls[0].args);
}

TEST_F(ComSupportConnectionPoint, SinksAreReleasedByReleaseAllAndWithTheOwner) {
    Advise(&a);
    Advise(&b);
    Cp().ReleaseAll();
    EXPECT_EQ(0, a.refs);
    EXPECT_EQ(0, b.refs);
    EXPECT_EQ(1u, Advise(&c));

    int destroyed = EventSource::s_destroyed;
    source = nullptr;
    EXPECT_EQ(destroyed + 1, EventSource::s_destroyed);
    EXPECT_EQ(0, c.refs);
}

TEST_F(ComSupportConnectionPoint, ContainerFindsItsOnePointWhichSharesTheOwnersLifetime) {
    ComPtr<IConnectionPoint> cp;
    ASSERT_EQ(S_OK, source->FindConnectionPoint(kEventsIid, cp.Receive()));
    EXPECT_EQ(&Cp(), cp.Get());
    IConnectionPoint* other = &Cp();
    EXPECT_EQ(CONNECT_E_NOCONNECTION, source->FindConnectionPoint(IID_IDispatch, &other));
    EXPECT_EQ(nullptr, other);
    EXPECT_EQ(E_POINTER, source->FindConnectionPoint(kEventsIid, nullptr));
    IID iid = IID_NULL;
    EXPECT_EQ(S_OK, cp->GetConnectionInterface(&iid));
    EXPECT_TRUE(IsEqualIID(kEventsIid, iid));

    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(S_OK, source->EnumConnectionPoints(points.Receive()));
    IConnectionPoint* got[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, points->Next(2, got, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(cp.Get(), got[0]);
    got[0]->Release();

    // The point and the enumerator keep the object alive after the last direct reference.
    int destroyed = EventSource::s_destroyed;
    source = nullptr;
    points = nullptr;
    EXPECT_EQ(destroyed, EventSource::s_destroyed);
    cp = nullptr;
    EXPECT_EQ(destroyed + 1, EventSource::s_destroyed);
}

// ---- ComObject and ComAggObject ----

class Widget : public com::ComObjectRoot<com::MultiThreadModel>, public IPersistStream, public IOleWindow {
public:
    BEGIN_COM_MAP(Widget)
        COM_INTERFACE_ENTRY(IPersistStream)
        COM_INTERFACE_ENTRY2(IPersist, IPersistStream)
        COM_INTERFACE_ENTRY(IOleWindow)
    END_COM_MAP()

    HRESULT FinalConstruct() { return s_constructResult; }
    STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
    STDMETHODIMP IsDirty() override { return S_FALSE; }
    STDMETHODIMP Load(IStream*) override { return E_NOTIMPL; }
    STDMETHODIMP Save(IStream*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP GetWindow(HWND*) override { return E_NOTIMPL; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    static HRESULT s_constructResult;
};
HRESULT Widget::s_constructResult = S_OK;

// A minimal outer object that aggregates an inner unknown.
class Outer : public IUnknown {
public:
    LONG refs = 1;
    IUnknown* inner = nullptr;
    STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override {
        if (!IsEqualIID(iid, IID_IUnknown)) return inner->QueryInterface(iid, ppv);
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
};

TEST(ComSupportComObject, QueryInterfaceTableAnswersAndRefuses) {
    LONG locks = com::Module().LockCount();
    ComPtr<IPersistStream> stream;
    ASSERT_EQ(S_OK, com::ComObject<Widget>::CreateAndQuery(IID_IPersistStream, stream.ReceiveVoid()));
    EXPECT_EQ(locks + 1, com::Module().LockCount());

    ComPtr<IPersist> persist;
    ComPtr<IOleWindow> window;
    ComPtr<IUnknown> u1, u2;
    ASSERT_EQ(S_OK, stream.As(persist, IID_IPersist));
    EXPECT_EQ(static_cast<IPersist*>(stream.Get()), persist.Get());
    ASSERT_EQ(S_OK, stream.As(window, IID_IOleWindow));
    EXPECT_NE(static_cast<void*>(window.Get()), static_cast<void*>(stream.Get()));
    ASSERT_EQ(S_OK, window.As(u1, IID_IUnknown));
    ASSERT_EQ(S_OK, persist.As(u2, IID_IUnknown));
    EXPECT_EQ(u1.Get(), u2.Get());

    void* refused = &locks;
    EXPECT_EQ(E_NOINTERFACE, stream->QueryInterface(IID_IDispatch, &refused));
    EXPECT_EQ(nullptr, refused);

    stream = nullptr;
    persist = nullptr;
    window = nullptr;
    u2 = nullptr;
    EXPECT_EQ(0u, u1.Detach()->Release());
    EXPECT_EQ(locks, com::Module().LockCount());
}

TEST(ComSupportComObject, FailedConstructionLeavesNoObjectAndNoLock) {
    LONG locks = com::Module().LockCount();
    Widget::s_constructResult = E_ACCESSDENIED;
    auto* p = reinterpret_cast<com::ComObject<Widget>*>(&locks);
    EXPECT_EQ(E_ACCESSDENIED, com::ComObject<Widget>::CreateInstance(&p));
    EXPECT_EQ(nullptr, p);
    Outer outer;
    com::ComAggObject<Widget>* agg = nullptr;
    EXPECT_EQ(E_ACCESSDENIED, com::ComAggObject<Widget>::CreateInstance(&outer, &agg));
    EXPECT_EQ(nullptr, agg);
    Widget::s_constructResult = S_OK;
    EXPECT_EQ(locks, com::Module().LockCount());

    void* unk = nullptr;  // a refused query destroys the new object again
    EXPECT_EQ(E_NOINTERFACE, com::ComObject<Widget>::CreateAndQuery(IID_IDispatch, &unk));
    EXPECT_EQ(locks, com::Module().LockCount());
}

TEST(ComSupportComObject, AggregatedInnerDelegatesToTheOuter) {
    LONG locks = com::Module().LockCount();
    Outer outer;
    void* refused = &outer;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, com::CreateComInstance<Widget>(&outer, IID_IPersist, &refused));
    EXPECT_EQ(nullptr, refused);
    ComPtr<IUnknown> inner;
    ASSERT_EQ(S_OK, com::CreateComInstance<Widget>(&outer, IID_IUnknown, inner.ReceiveVoid()));
    outer.inner = inner.Get();
    EXPECT_EQ(locks + 1, com::Module().LockCount());

    IPersist* persist = nullptr;
    ASSERT_EQ(S_OK, inner->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&persist)));
    EXPECT_EQ(2, outer.refs);  // the interface's reference belongs to the outer
    EXPECT_NE(static_cast<void*>(persist), static_cast<void*>(inner.Get()));
    IUnknown* identity = nullptr;
    ASSERT_EQ(S_OK, persist->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
    EXPECT_EQ(static_cast<IUnknown*>(&outer), identity);
    identity->Release();
    persist->Release();
    EXPECT_EQ(1, outer.refs);
    EXPECT_EQ(2u, inner->AddRef());  // the inner's own count is apart
    inner->Release();

    inner = nullptr;
    EXPECT_EQ(locks, com::Module().LockCount());
}

TEST(ComSupportComObject, ConnectionPointOfAnAggregatedInnerCountsOnTheOuter) {
    Outer outer;
    com::ComAggObject<EventSource>* agg = nullptr;
    ASSERT_EQ(S_OK, com::ComAggObject<EventSource>::CreateInstance(&outer, &agg));
    agg->AddRef();
    outer.inner = agg;
    ComPtr<IConnectionPoint> cp;
    ASSERT_EQ(S_OK, agg->Object()->FindConnectionPoint(kEventsIid, cp.Receive()));
    EXPECT_EQ(2, outer.refs);
    ComPtr<IConnectionPointContainer> back;
    ComPtr<IUnknown> identity;
    ASSERT_EQ(S_OK, cp->GetConnectionPointContainer(back.Receive()));
    ASSERT_EQ(S_OK, back.As(identity, IID_IUnknown));
    EXPECT_EQ(static_cast<IUnknown*>(&outer), identity.Get());
    identity = nullptr;
    back = nullptr;
    cp = nullptr;
    EXPECT_EQ(1, outer.refs);
    int destroyed = EventSource::s_destroyed;
    EXPECT_EQ(0u, agg->Release());
    EXPECT_EQ(destroyed + 1, EventSource::s_destroyed);
}

} // namespace
