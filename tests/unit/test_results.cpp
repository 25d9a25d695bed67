// The result-code tables between HRESULTs and the framework's results.
#include "module/Utilities.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

HRESULT hr(unsigned long value) { return static_cast<HRESULT>(value); }
KVFMOpResult op(unsigned long value) { return static_cast<KVFMOpResult>(value); }

TEST(ResultCodes, HresultToOperationResult) {
    const std::pair<unsigned long, KVFMOpResult> table[] = {
        {0x00000000, KVFM_OK}, {0x00000001, KVFM_OK},
        {0x80070015, KVFM_E_DISCONNECTED}, {0x80072745, KVFM_E_DISCONNECTED}, {0x80072775, KVFM_E_DISCONNECTED},
        {0x80070003, KVFM_E_NOT_FOUND}, {0x800700A1, KVFM_E_NOT_FOUND}, {0x800700B7, KVFM_E_ALREADY_EXISTS},
        {0x8007000E, KVFM_E_NO_SPACE}, {0x80070070, KVFM_E_NO_SPACE}, {0x80070005, KVFM_E_ACCESS_DENIED},
        {0x80004001, KVFM_E_NOT_SUPPORTED}, {0x80070032, KVFM_E_NOT_SUPPORTED},
        {0x80004004, KVFM_ABORTED}, {0x800704C7, KVFM_ABORTED}, {0x8007274C, KVFM_ABORTED},
        // Everything else fails plainly, success codes above 1 included.
        {0x00000002, KVFM_E_FAILED}, {0x7FFFFFFF, KVFM_E_FAILED}, {0x80004005, KVFM_E_FAILED},
        {0x80070057, KVFM_E_FAILED}, {0x80000001, KVFM_E_FAILED}, {0xC0000000, KVFM_E_FAILED},
        {0x80072746, KVFM_E_FAILED}, {0xFFFFFFFF, KVFM_E_FAILED},
    };
    for (const auto& row : table) EXPECT_EQ(kvFmResultFromHresult(hr(row.first)), row.second) << std::hex << row.first;
}

TEST(ResultCodes, OperationResultToHresult) {
    const std::pair<unsigned long, unsigned long> table[] = {
        {0x00000000, 0x00000000}, {0x80000001, 0x80072745}, {0x80000002, 0x80070003}, {0x80000003, 0x800700B7},
        {0x80000004, 0x8007000E}, {0x80000005, 0x80070005}, {0x80000008, 0x80004001}, {0xC0000000, 0x80072745},
        // Everything else is E_FAIL: the gaps, positive values, and values above KVFM_ABORTED.
        {0x80000000, 0x80004005}, {0x80000006, 0x80004005}, {0x80000007, 0x80004005}, {0x80000009, 0x80004005},
        {0x00000001, 0x80004005}, {0x7FFFFFFF, 0x80004005}, {0xC0000001, 0x80004005}, {0xFFFFFFFF, 0x80004005},
    };
    for (const auto& row : table) {
        EXPECT_EQ(hresultFromKvFmResult(op(row.first)), hr(row.second)) << std::hex << row.first;
        EXPECT_EQ(hresultFromKvFmResult(static_cast<LONG>(row.first)), hr(row.second)) << std::hex << row.first;
    }
}

} // namespace
