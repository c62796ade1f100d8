#include "foundation/VEXConst.h"

namespace vex {

// clang-format off
const std::array<std::u16string_view, ReservedWordCount> ReservedWordNames = {{
    // 0-9
    u"ABSOLUTE", u"ACTION", u"ADD", u"ALL", u"ALLOCATE", u"ALTER", u"AND", u"ANY", u"ARE", u"AS",
    // 10-19
    u"ASC", u"ASSERTION", u"AT", u"AUTHORIZATION", u"AVG", u"BEGIN", u"BETWEEN", u"BIT",
    u"BIT_LENGTH", u"BOTH",
    // 20-29
    u"BY", u"CASCADE", u"CASCADED", u"CASE", u"CAST", u"CATALOG", u"CHAR", u"CHARACTER",
    u"CHAR_LENGTH", u"CHARACTER_LENGTH",
    // 30-39
    u"CHECK", u"CLOSE", u"COALESCE", u"COLLATE", u"COLLATION", u"COLUMN", u"COMMIT", u"CONNECT",
    u"CONNECTION", u"CONSTRAINT",
    // 40-49
    u"CONSTRAINTS", u"CONTINUE", u"CONVERT", u"CORRESPONDING", u"COUNT", u"CREATE", u"CROSS",
    u"CURRENT", u"CURRENT_DATE", u"CURRENT_TIME",
    // 50-59
    u"CURRENT_TIMESTAMP", u"CURRENT_USER", u"CURSOR", u"DATE", u"DAY", u"DEALLOCATE", u"DEC",
    u"DECIMAL", u"DECLARE", u"DEFAULT",
    // 60-69
    u"DEFERRABLE", u"DEFERRED", u"DELETE", u"DESC", u"DESCRIBE", u"DESCRIPTOR", u"DIAGNOSTICS",
    u"DISCONNECT", u"DISTINCT", u"DOMAIN",
    // 70-79
    u"DOUBLE", u"DROP", u"ELSE", u"END", u"END-EXEC", u"ESCAPE", u"EXCEPT", u"EXCEPTION",
    u"EXEC", u"EXECUTE",
    // 80-89
    u"EXISTS", u"EXTERNAL", u"EXTRACT", u"FALSE", u"FETCH", u"FIRST", u"FLOAT", u"FOR",
    u"FOREIGN", u"FOUND",
    // 90-99
    u"FROM", u"FULL", u"GET", u"GLOBAL", u"GO", u"GOTO", u"GRANT", u"GROUP", u"HAVING", u"HOUR",
    // 100-109
    u"IDENTITY", u"IMMEDIATE", u"IN", u"INDICATOR", u"INITIALLY", u"INNER", u"INPUT",
    u"INSENSITIVE", u"INSERT", u"INT",
    // 110-119
    u"INTEGER", u"INTERSECT", u"INTERVAL", u"INTO", u"IS", u"ISOLATION", u"JOIN", u"KEY",
    u"LANGUAGE", u"LAST",
    // 120-129
    u"LEADING", u"LEFT", u"LEVEL", u"LIKE", u"LOCAL", u"LOWER", u"MATCH", u"MAX", u"MEMORY",
    u"MIN",
    // 130-139
    u"MINUS", u"MINUTE", u"MODULE", u"MONTH", u"NAMES", u"NATIONAL", u"NATURAL", u"NCHAR",
    u"NEXT", u"NO",
    // 140-149
    u"NOT", u"NULL", u"NULLIF", u"NUMERIC", u"OCTET_LENGTH", u"OF", u"ON", u"ONLY", u"OPEN",
    u"OPTION",
    // 150-159
    u"OR", u"ORDER", u"OUTER", u"OUTPUT", u"OVERLAPS", u"PAD", u"PARTIAL", u"POSITION",
    u"PRECISION", u"PREPARE",
    // 160-169
    u"PRESERVE", u"PRIMARY", u"PRIOR", u"PRIVILEGES", u"PROCEDURE", u"PUBLIC", u"READ", u"REAL",
    u"REFERENCES", u"RELATIVE",
    // 170-179
    u"RESTRICT", u"REVOKE", u"RIGHT", u"ROLLBACK", u"ROWS", u"SCHEMA", u"SCROLL", u"SECOND",
    u"SECTION", u"SELECT",
    // 180-189
    u"SESSION", u"SESSION_USER", u"SET", u"SIZE", u"SMALLINT", u"SOME", u"SPACE", u"SQL",
    u"SQLCODE", u"SQLERROR",
    // 190-199
    u"SQLSTATE", u"SUBSTRING", u"SUM", u"SYSTEM_USER", u"TABLE", u"TEMPORARY", u"THEN", u"TIME",
    u"TIMESTAMP", u"TIMEZONE_HOUR",
    // 200-209
    u"TIMEZONE_MINUTE", u"TO", u"TOP", u"TRAILING", u"TRANSACTION", u"TRANSLATE", u"TRANSLATION",
    u"TRIM", u"TRUE", u"UNION",
    // 210-219
    u"UNIQUE", u"UNKNOWN", u"UPDATE", u"UPPER", u"USAGE", u"USER", u"USING", u"VALUE", u"VALUES",
    u"VARCHAR",
    // 220-229
    u"VARYING", u"VIEW", u"WHEN", u"WHENEVER", u"WHERE", u"WITH", u"WORK", u"WRITE", u"YEAR",
    u"ZONE",
    // 230-239
    u"PASSWORD", u"BLOBBLOCKSIZE", u"BLOBCOMPRESSIONMODE", u"BLOBCOMPRESSIONALGORITHM",
    u"LASTAUTOINC", u"MODIFY", u"NEW", u"INDEX", u"NOCASE", u"LTRIM",
    // 240-249
    u"RTRIM", u"POS", u"LENGTH", u"SYSDATE", u"NOW", u"TODATE", u"TOSTRING", u"AUTOINDEXES",
    u"NOAUTOINDEXES", u"INCREMENT",
    // 250-259
    u"LASTVALUE", u"MAXVALUE", u"MINVALUE", u"CYCLED", u"NOMAXVALUE", u"NOMINVALUE", u"NOCYCLED",
    u"INITIALVALUE", u"STARTVALUE", u"RENAME",
    // 260-269
    u"START", u"FLUSH", u"AUTOINC", u"MIMETOBIN", u"ROWNUM", u"IF", u"TRUNCATE", u"ABS", u"ACOS",
    u"ASIN",
    // 270-279
    u"ATAN", u"CEIL", u"COS", u"EXP", u"FLOOR", u"LOG", u"POWER", u"RAND", u"ROUND", u"SIGN",
    // 280-289
    u"SIN", u"SQR", u"SQRT", u"HALFEVEN", u"HALFPOS", u"HALFNEG", u"HALFDOWN", u"HALFUP",
    u"RNDNEG", u"RNDPOS",
    // 290-291
    u"RNDDOWN", u"RNDUP",
}};
// clang-format on

}  // namespace vex
