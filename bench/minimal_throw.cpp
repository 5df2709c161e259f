// The size reference: a minimal static program that throws and catches once.
#include <stdexcept>

int main(int argc, char**) {
    try {
        if (argc > 0) throw std::runtime_error("x");
    } catch (const std::exception&) {
        return 1;
    }
    return 0;
}
