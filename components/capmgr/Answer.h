// The answer array of a query.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

namespace capmgr {

// VT_EMPTY for no text. Otherwise VT_ARRAY|VT_VARIANT over a square array of
// N+1 by N+1 cells, both lower bounds 0: text i at (i, 1), so dimension 1 runs
// over the matches up to the unread row N; and also at (1, i), for readers
// that hand SafeArrayGetElement the indices {1, i} meaning "column 1, row i"
// (the runtime takes rgIndices[0] as dimension 1's index).
HRESULT BuildAnswer(const std::vector<std::wstring>& texts, VARIANT* out);

} // namespace capmgr
