// Placeholder demo until the add-on stands: shows the core starting.
#include <cstdio>

int main() {
    std::puts("Tavrel debugger core: demo");
    return 0;
}
