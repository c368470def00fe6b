#include "platform/media/core/enumerators.h"

namespace ronvix::media {

using namespace com;

HRESULT MediaTypeEnumerator::Next(ULONG count, AM_MEDIA_TYPE** out, ULONG* fetched) {
    if (!out)
        return E_POINTER;
    if (count != 1 && !fetched)
        return E_POINTER;
    ULONG n = 0;
    while (n < count && m_pos < m_types.size()) {
        out[n] = CreateMediaType(&m_types[m_pos].Get());
        if (!out[n])
            break;
        ++m_pos;
        ++n;
    }
    if (fetched)
        *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

HRESULT MediaTypeEnumerator::Skip(ULONG count) {
    const size_t left = m_types.size() - m_pos;
    m_pos += std::min<size_t>(left, count);
    return left >= count ? S_OK : S_FALSE;
}

HRESULT MediaTypeEnumerator::Reset() {
    m_pos = 0;
    return S_OK;
}

HRESULT MediaTypeEnumerator::Clone(IEnumMediaTypes** out) {
    if (!out)
        return E_POINTER;
    *out = new MediaTypeEnumerator(m_types, m_pos);
    return S_OK;
}

}  // namespace ronvix::media
