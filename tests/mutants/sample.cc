// Lines 3 to 8 changed; nothing in a comment or a literal is touched: a < b
int sample(const std::vector<int>& values, int flags)
{
    if (values.size() > 2 && flags != 0) return -1;
    if (flags == 7) {
        return open("x < y", flags | O_CREAT);
    }
    return open("x < y", flags | O_CREAT);
}
