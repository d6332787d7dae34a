// Limits and constants the store's source files share: the signature of a valid store
// and the longest names the store accepts.
#ifndef CSLIB_CSXTOR_CISLIMITS_H
#define CSLIB_CSXTOR_CISLIMITS_H

namespace cslib::cis {

constexpr unsigned int kStoreSignature = 24;
constexpr long kMaxSectionName = 193;  // "DefMap;" and the name fit in 200 characters
constexpr long kMaxKey = 256;
constexpr long kMaxDeletedSection = 256;  // sections named only to be deleted or moved

}  // namespace cslib::cis

#endif  // CSLIB_CSXTOR_CISLIMITS_H
