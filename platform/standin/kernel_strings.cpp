// The plain string calls.
#include "platform/standin/windows.h"

#include <cstring>
#include <strings.h>

LPSTR lstrcpyA(LPSTR destination, LPCSTR source) {
    return std::strcpy(destination, source);
}

LPSTR lstrcpynA(LPSTR destination, LPCSTR source, int size) {
    if (size <= 0)
        return destination;
    int n = 0;
    while (n < size - 1 && source[n]) {
        destination[n] = source[n];
        ++n;
    }
    destination[n] = '\0';
    return destination;
}

LPSTR lstrcatA(LPSTR destination, LPCSTR source) {
    return std::strcat(destination, source);
}

int lstrlenA(LPCSTR text) {
    return text ? static_cast<int>(std::strlen(text)) : 0;
}

int lstrcmpiA(LPCSTR first, LPCSTR second) {
    return strcasecmp(first ? first : "", second ? second : "");
}
