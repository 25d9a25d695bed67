#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include "com/ComConnectionPoint.h"
#include "com/ComEnum.h"
#include "com/ComObject.h"
#include "unit_fakes.h"

namespace {

using com::ComPtr;
using com::EventArg;

const IID kEventsIid = {0x5b7c0c61, 0x3a2e, 0x4f0b, {0x9c, 0x51, 0x6e, 0x1d, 0x2a, 0x7b, 0x8f, 0x01}};

using FakeDispatch = unittest::RecordingSink;

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

TEST_F(ComSupportEnum, NextYieldsItemsInOrderEachHeldByItsVariant) {
    for (int i = 0; i < 3; ++i) {
        com::UniqueVariant v;
        ASSERT_EQ(S_OK, e->Next(1, v.Get(), nullptr));
        EXPECT_EQ(i, IndexOf(*v.Get()));
        EXPECT_EQ(2, items[i].refs);  // snapshot + the handed-out VARIANT
    }
    e->Reset();
    // A count above one without a fetched count, and a partial fetch, are checked through a folder's collection.
    VARIANT v[2];
    ULONG fetched = 0;
    EXPECT_EQ(E_POINTER, e->Next(1, nullptr, &fetched));
    ASSERT_EQ(S_OK, e->Next(2, v, &fetched));
    ASSERT_EQ(2u, fetched);
    EXPECT_TRUE(IndexOf(v[0]) == 0 && IndexOf(v[1]) == 1);
    VariantClear(&v[0]), VariantClear(&v[1]);
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

class EventSource : public com::ComObjectRoot<com::SingleThreadModel>, public com::ConnectionPointContainerImpl {
public:
    EventSource() : ConnectionPointContainerImpl(kEventsIid, m_lock) {}
    BEGIN_COM_MAP(EventSource)
        COM_INTERFACE_ENTRY(IConnectionPointContainer)
    END_COM_MAP()

private:
    com::CriticalSection m_lock;
};

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

TEST_F(ComSupportConnectionPoint, FiresWithArgumentsLastFirst) {
    FakeDispatch object;
    LONG answer = 0;
    a.onInvoke = [&](DISPID, DISPPARAMS* p) {
        EXPECT_EQ(&answer, V_I4REF(&p->rgvarg[0]));
        EXPECT_EQ(1.5, V_DATE(&p->rgvarg[5]));
        EXPECT_EQ(1, object.refs);  // held for the call only
        return S_OK;
    };
    Advise(&a);
    EXPECT_EQ(S_OK, Cp().Fire(44, {EventArg::I4(7), EventArg::Bstr(L"a.txt"), EventArg::Date(1.5),
                                   EventArg::UI4(0x80004005u), EventArg::Dispatch(&object), EventArg::I2(-3),
                                   EventArg::Dispatch(nullptr), EventArg::ByRefI4(&answer)}));
    ASSERT_EQ(1u, a.events.size());
    const unittest::SinkEvent& call = a.events[0];
    EXPECT_EQ(44, call.id);
    EXPECT_EQ(0x400u, call.lcid);
    EXPECT_EQ(DISPATCH_METHOD, call.flags);
    EXPECT_TRUE(call.nullIid);
    EXPECT_TRUE(call.noNamed);
    EXPECT_TRUE(call.hasResult);
    EXPECT_EQ((std::vector<VARTYPE>{VT_BYREF | VT_I4, VT_DISPATCH, VT_I2, VT_DISPATCH, VT_UI4, VT_DATE, VT_BSTR, VT_I4}),
              call.types);
    EXPECT_EQ((std::vector<LONGLONG>{-3, 0x80004005LL, 7}), call.numbers);
    EXPECT_EQ((std::vector<IDispatch*>{nullptr, &object}), call.objects);
    EXPECT_EQ((std::vector<std::wstring>{L"a.txt"}), call.texts);
    EXPECT_EQ(0, object.refs);
}

TEST_F(ComSupportConnectionPoint, SinksRemovedDuringFiringAreSkippedAndAddedOnesWait) {
    DWORD cookieB = 0;
    a.onInvoke = [&](DISPID, DISPPARAMS*) {
        EXPECT_EQ(4u, Advise(&d));  // appended after the count taken at the start
        EXPECT_EQ(S_OK, Cp().Unadvise(cookieB));
        EXPECT_EQ(S_OK, Cp().Unadvise(1));  // itself: the firing holds it till its call returns
        EXPECT_EQ(1, a.refs);
        return S_OK;
    };
    Advise(&a);
    cookieB = Advise(&b);
    Advise(&c);
    c.onInvoke = [](DISPID, DISPPARAMS*) { return DISP_E_MEMBERNOTFOUND; };
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Cp().Fire(1, {EventArg::UI4(0), EventArg::I4(1)}));
    EXPECT_EQ(1u, a.events.size());
    EXPECT_TRUE(b.events.empty());
    EXPECT_EQ(1u, c.events.size());
    EXPECT_TRUE(d.events.empty());
    EXPECT_EQ(0, a.refs);
    c.onInvoke = [](DISPID, DISPPARAMS*) { return E_FAIL; };
    EXPECT_EQ(S_OK, Cp().Fire(1, {}));  // d, called last, succeeds
    ASSERT_EQ(1u, d.events.size());
    EXPECT_TRUE(d.events[0].types.empty());
}

} // namespace
