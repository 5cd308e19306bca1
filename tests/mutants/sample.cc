#include <vector>

int open(const char*, int);

// Lines 6 to 19 changed; nothing in a comment, a literal or a template's brackets is touched: a < b
int sample(const std::vector<int>& values, int flags)
{
    const char* text = "x < y && z";
    if (values.size() > 2 && flags != 0) return -1;
    for (int value : values) {
        if (value == 7) {
            continue;
        }
        if (value >= 0x1F || value < 0) {
            flags = 1;
        }
    }
    return open(text, flags | O_CREAT | O_EXCL);
}
