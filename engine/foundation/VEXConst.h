// The SQL engine's shared enumerations and the reserved-word table.
//
// The numbers of every enumeration here are a contract: parsers test reserved
// words by id, the expression nodes test operator codes by range (doUPPER to
// doRTRIM, doABS to doSQRT), and the rounding-mode words HALFEVEN to RNDUP map
// in order onto rounding modes 1 to 9. New values are never inserted; none is
// renumbered.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vex {

// Ids 0 to 229 are the SQL-92 reserved words in alphabetical order, 230 to 291
// the engine's own words. rwNone is no word (and, where a test asks for a
// reserved word, any word).
// clang-format off
enum TReservedWord : uint16_t {
  // 0-9
  rwABSOLUTE, rwACTION, rwADD, rwALL, rwALLOCATE, rwALTER, rwAND, rwANY, rwARE, rwAS,
  // 10-19
  rwASC, rwASSERTION, rwAT, rwAUTHORIZATION, rwAVG, rwBEGIN, rwBETWEEN, rwBIT, rwBIT_LENGTH,
  rwBOTH,
  // 20-29
  rwBY, rwCASCADE, rwCASCADED, rwCASE, rwCAST, rwCATALOG, rwCHAR, rwCHARACTER, rwCHAR_LENGTH,
  rwCHARACTER_LENGTH,
  // 30-39
  rwCHECK, rwCLOSE, rwCOALESCE, rwCOLLATE, rwCOLLATION, rwCOLUMN, rwCOMMIT, rwCONNECT,
  rwCONNECTION, rwCONSTRAINT,
  // 40-49
  rwCONSTRAINTS, rwCONTINUE, rwCONVERT, rwCORRESPONDING, rwCOUNT, rwCREATE, rwCROSS, rwCURRENT,
  rwCURRENT_DATE, rwCURRENT_TIME,
  // 50-59
  rwCURRENT_TIMESTAMP, rwCURRENT_USER, rwCURSOR, rwDATE, rwDAY, rwDEALLOCATE, rwDEC, rwDECIMAL,
  rwDECLARE, rwDEFAULT,
  // 60-69
  rwDEFERRABLE, rwDEFERRED, rwDELETE, rwDESC, rwDESCRIBE, rwDESCRIPTOR, rwDIAGNOSTICS,
  rwDISCONNECT, rwDISTINCT, rwDOMAIN,
  // 70-79
  rwDOUBLE, rwDROP, rwELSE, rwEND, rwEND_EXEC, rwESCAPE, rwEXCEPT, rwEXCEPTION, rwEXEC,
  rwEXECUTE,
  // 80-89
  rwEXISTS, rwEXTERNAL, rwEXTRACT, rwFALSE, rwFETCH, rwFIRST, rwFLOAT, rwFOR, rwFOREIGN, rwFOUND,
  // 90-99
  rwFROM, rwFULL, rwGET, rwGLOBAL, rwGO, rwGOTO, rwGRANT, rwGROUP, rwHAVING, rwHOUR,
  // 100-109
  rwIDENTITY, rwIMMEDIATE, rwIN, rwINDICATOR, rwINITIALLY, rwINNER, rwINPUT, rwINSENSITIVE,
  rwINSERT, rwINT,
  // 110-119
  rwINTEGER, rwINTERSECT, rwINTERVAL, rwINTO, rwIS, rwISOLATION, rwJOIN, rwKEY, rwLANGUAGE,
  rwLAST,
  // 120-129
  rwLEADING, rwLEFT, rwLEVEL, rwLIKE, rwLOCAL, rwLOWER, rwMATCH, rwMAX, rwMEMORY, rwMIN,
  // 130-139
  rwMINUS, rwMINUTE, rwMODULE, rwMONTH, rwNAMES, rwNATIONAL, rwNATURAL, rwNCHAR, rwNEXT, rwNO,
  // 140-149
  rwNOT, rwNULL, rwNULLIF, rwNUMERIC, rwOCTET_LENGTH, rwOF, rwON, rwONLY, rwOPEN, rwOPTION,
  // 150-159
  rwOR, rwORDER, rwOUTER, rwOUTPUT, rwOVERLAPS, rwPAD, rwPARTIAL, rwPOSITION, rwPRECISION,
  rwPREPARE,
  // 160-169
  rwPRESERVE, rwPRIMARY, rwPRIOR, rwPRIVILEGES, rwPROCEDURE, rwPUBLIC, rwREAD, rwREAL,
  rwREFERENCES, rwRELATIVE,
  // 170-179
  rwRESTRICT, rwREVOKE, rwRIGHT, rwROLLBACK, rwROWS, rwSCHEMA, rwSCROLL, rwSECOND, rwSECTION,
  rwSELECT,
  // 180-189
  rwSESSION, rwSESSION_USER, rwSET, rwSIZE, rwSMALLINT, rwSOME, rwSPACE, rwSQL, rwSQLCODE,
  rwSQLERROR,
  // 190-199
  rwSQLSTATE, rwSUBSTRING, rwSUM, rwSYSTEM_USER, rwTABLE, rwTEMPORARY, rwTHEN, rwTIME,
  rwTIMESTAMP, rwTIMEZONE_HOUR,
  // 200-209
  rwTIMEZONE_MINUTE, rwTO, rwTOP, rwTRAILING, rwTRANSACTION, rwTRANSLATE, rwTRANSLATION, rwTRIM,
  rwTRUE, rwUNION,
  // 210-219
  rwUNIQUE, rwUNKNOWN, rwUPDATE, rwUPPER, rwUSAGE, rwUSER, rwUSING, rwVALUE, rwVALUES, rwVARCHAR,
  // 220-229
  rwVARYING, rwVIEW, rwWHEN, rwWHENEVER, rwWHERE, rwWITH, rwWORK, rwWRITE, rwYEAR, rwZONE,
  // 230-239
  rwPASSWORD, rwBLOBBLOCKSIZE, rwBLOBCOMPRESSIONMODE, rwBLOBCOMPRESSIONALGORITHM, rwLAST_AUTOINC,
  rwMODIFY, rwNEW, rwINDEX, rwNOCASE, rwLTRIM,
  // 240-249
  rwRTRIM, rwPOS, rwLENGTH, rwSYSDATE, rwNOW, rwTODATE, rwTOSTRING, rwAUTOINDEXES,
  rwNOAUTOINDEXES, rwINCREMENT,
  // 250-259
  rwLASTVALUE, rwMAXVALUE, rwMINVALUE, rwCYCLED, rwNOMAXVALUE, rwNOMINVALUE, rwNOCYCLED,
  rwINITIALVALUE, rwSTARTVALUE, rwRENAME,
  // 260-269
  rwSTART, rwFLUSH, rwAUTOINC, rwMIMETOBIN, rwROWNUM, rwIF, rwTRUNCATE, rwABS, rwACOS, rwASIN,
  // 270-279
  rwATAN, rwCEIL, rwCOS, rwEXP, rwFLOOR, rwLOG, rwPOWER, rwRAND, rwROUND, rwSIGN,
  // 280-289
  rwSIN, rwSQR, rwSQRT, rwHALFEVEN, rwHALFPOS, rwHALFNEG, rwHALFDOWN, rwHALFUP, rwRNDNEG,
  rwRNDPOS,
  // 290-291
  rwRNDDOWN, rwRNDUP,
  rwNone
};
// clang-format on
static_assert(rwNone == 292);

inline constexpr int32_t ReservedWordCount = rwNone;

// The words in upper case, indexed by id. Id 74 is "END-EXEC" (rwEND_EXEC) and
// id 234 "LASTAUTOINC" (rwLAST_AUTOINC); every other word is its id's name
// without the "rw". Looked up through FindReservedWord.
extern const std::array<std::u16string_view, ReservedWordCount> ReservedWordNames;

// What an expression node computes.
enum TVEXDataOperator : uint8_t {
  doUNDEFINED,
  doEQ,
  doNE,
  doGT,
  doLT,
  doGE,
  doLE,
  doNOT,
  doAND,
  doOR,
  doIN,
  doNOTIN,
  doEXISTS,
  doBETWEEN,
  doNOTBETWEEN,
  doLIKE,
  doNOTLIKE,
  doISNULL,
  doISNOTNULL,
  doTRUE,
  doFALSE,
  doADD,
  doSUB,
  doMUL,
  doDIV,
  doCONCAT,
  doUPPER,
  doLOWER,
  doTRIM,
  doLTRIM,
  doRTRIM,
  doLENGTH,
  doPOS,
  doSUBSTRING,
  doSUM,
  doAVG,
  doMIN,
  doMAX,
  doCOUNT,
  doCOUNTALL,
  doSYSDATE,
  doCURRENT_DATE,
  doCURRENT_TIME,
  doTODATE,
  doTOSTRING,
  doEXTRACT,
  doCAST,
  doLASTAUTOINC,
  doMIMETOBIN,
  doROWNUM,
  doABS,
  doACOS,
  doASIN,
  doATAN,
  doCEIL,
  doCOS,
  doEXP,
  doFLOOR,
  doLOG,
  doPOWER,
  doRAND,
  doROUND,
  doSIGN,
  doSIN,
  doSQR,
  doSQRT
};
static_assert(doSQRT == 65);

enum TVEXJoinType : uint8_t { ajtCross, ajtInner, ajtLeftOuter, ajtRightOuter, ajtFullOuter };

enum TVEXUnionType : uint8_t { autUnion, autIntersect, autExcept };

// What one FROM item is.
enum TVEXTableType : uint8_t { attTable, attJoinedTable, attSubQuery };

// The part of a date or time that EXTRACT takes.
enum TVEXDateTimeExtractField : uint8_t {
  dtefYear,
  dtefMonth,
  dtefDay,
  dtefHour,
  dtefMinute,
  dtefSecond
};

// Message texts that the engine raises from more than one place. Each place
// keeps its own native error code; the text is written once, here, so that the
// places cannot drift apart.

inline constexpr const char* sInvalidPointer = "Invalid pointer";
inline constexpr const char* sGetMemError = "GetMem error: %s";
inline constexpr const char* sOutOfMemory = "Out of memory";
inline constexpr const char* sMemoryLimitExceeded = "Memory limit exceeded (Limit = %d bytes)";

inline constexpr const char* sUnknownDataType = "Unknown DataType: '%s'";
inline constexpr const char* sUnsupportedDataType = "Unsupported data type '%s'";
inline constexpr const char* sUnsupportedVariantType = "Unsupported Variant Type %s";
inline constexpr const char* sValueIsNull = "Value is Null";
inline constexpr const char* sIntegerOverflow = "Integer overflow";
inline constexpr const char* sInvalidFloatingPointOperation = "Invalid floating point operation";

inline constexpr const char* sPPMCompressionError = "PPM Compression error";
inline constexpr const char* sPPMDecompressionError = "PPM Decompression error";

inline constexpr const char* sInvalidSessionID = "Invalid Session ID";
inline constexpr const char* sErrorReadingPage =
    "Error reading database file page. Page No: %d, type %d";

inline constexpr const char* sInvalidClassTypecast = "Invalid class typecast";
inline constexpr const char* sNameTooLong = "Name is too long to be stored: %d characters";
inline constexpr const char* sDifferentListLengths =
    "Error - different list lengths. L1 = %d, L2 = %d";

}  // namespace vex
