// Entry point. The windows are not built yet; until they are, the program says so.
#include <cstdio>

int main()
{
    std::puts("Velloray 0.9.83\n"
              "The conversion engine is in place; the windows of the program are not built yet,\n"
              "so there is nothing to show. Run scripts/test to build and run the tests.");
    return 0;
}
