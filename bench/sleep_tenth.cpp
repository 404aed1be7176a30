// The floor of a T0 run's wall time: a program that only sleeps 0.1 s.
#include <ctime>

int main()
{
    const timespec tenth{0, 100000000};
    while (nanosleep(&tenth, nullptr) != 0) {
    }
    return 0;
}
