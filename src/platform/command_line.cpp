// The platform's usual splitting rules: white space separates; double quotes
// group and are removed; "" is an (empty) argument; backslashes are literal
// except before a double quote, where 2n give n and a quote that groups, and
// 2n+1 give n and a literal quote. Only the count is needed.
#include "platform/command_line.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The program name knows no backslash rule: quotes only group.
const char* skip_program_name(const char* p) {
    bool quoted = false;
    for (; *p != '\0' && (quoted || !is_blank(*p)); ++p) {
        if (*p == '"') quoted = !quoted;
    }
    return p;
}

const char* skip_argument(const char* p) {
    bool quoted = false;
    while (*p != '\0' && (quoted || !is_blank(*p))) {
        int backslashes = 0;
        while (p[backslashes] == '\\') ++backslashes;
        p += backslashes;
        if (*p == '"') {
            if (backslashes % 2 == 0) quoted = !quoted;  // odd: the quote is literal
            ++p;
        } else if (backslashes == 0) {
            ++p;
        }
    }
    return p;
}

}  // namespace

int count_arguments(const char* command_line) {
    const char* p = command_line;
    if (*p == '\0') return 0;
    p = skip_program_name(p);
    int count = 1;
    for (;;) {
        while (is_blank(*p)) ++p;
        if (*p == '\0') return count;
        ++count;
        p = skip_argument(p);
    }
}
