// Message texts and error codes of the cipher, hash and string-format library.
// The texts are kept exactly as callers and stored logs have always seen them,
// grammar included.
#pragma once

#include <cstdint>

namespace vex {

// ECipherException.ErrorCode when a cipher is used before it has a key.
inline constexpr int32_t errNotInitialized = 3;
// ECipherException.ErrorCode when coding in a chaining mode that is not provided.
inline constexpr int32_t errModeNotSupported = 4;

inline constexpr const char* sCipherNotInitialized =
    "%s is not initialized call Init() or InitKey() before.";
inline constexpr const char* sCipherModeNotSupported = "Cipher mode %d is not supported.";

inline constexpr const char* sNotImplemented12 = "Not implemented 12";  // wipe action
inline constexpr const char* sNotImplemented13 = "Not implemented 13";  // Identity
inline constexpr const char* sNotImplemented14 = "Not implemented 14";  // base class operations

// String formats without an alphabet.
inline constexpr const char* sNoAlphabetHEX = "Not Implemented 2";
inline constexpr const char* sNoAlphabetHEXL = "Not implemented 3";
inline constexpr const char* sNoAlphabetUU = "Not implemented 5";
inline constexpr const char* sNoAlphabetXX = "Not implemented 6";

inline constexpr const char* sStringFormatNotExists = "String Format \"%d\" not exists.";
inline constexpr const char* sInputNotConvertible = "Input can not be convert to %s Format.";
inline constexpr const char* sInputNotValidFormat = "Input is not an valid %s Format.";
inline constexpr const char* sCircularProtection =
    "Circular Protection detected, Protection Object is invalid.";

// TestVector texts, one per class.
inline constexpr const char* sTestVectorRijndael = "TCipher_Rijndael.TestVector not implemented 20";
inline constexpr const char* sTestVectorBlowfish = "TCipher_Blowfish.TestVector not implemented 21";
inline constexpr const char* sTestVector1DES = "TCipher_1DES.TestVector not implemented";
inline constexpr const char* sTestVector3DES = "TCipher_3DES.TestVector not implemented 24";
inline constexpr const char* sTestVector3TDES = "TCipher_3TDES.TestVector not implemented 25";
inline constexpr const char* sTestVectorTwofish = "TCipher_Twofish.TestVector not implemented 26";
inline constexpr const char* sTestVectorSquare = "TCipher_Square.TestVector not implemented 27";
inline constexpr const char* sTestVectorMD4 = "THash_MD4.TestVector not implemented 28";
inline constexpr const char* sTestVectorRipeMD128 = "THash_RipeMD128.TestVector not implemented 30";
inline constexpr const char* sTestVectorRipeMD256 = "THash_RipeMD256.TestVector not implemented 31";

// String format names and numbers.
inline constexpr int32_t fmtCOPY = 1;
inline constexpr int32_t fmtHEX = 16;
inline constexpr int32_t fmtHEXL = 1016;
inline constexpr int32_t fmtMIME64 = 0x1064;
inline constexpr int32_t fmtUU = 0x5555;
inline constexpr int32_t fmtXX = 0x5858;
inline constexpr int32_t fmtDEFAULT = -1;

}  // namespace vex
