// lampcheck: run the board's LED test. Arguments are ignored; the test
// reports nothing, so neither does the program.
#include "brdlink.h"

int main()
{
    Led_Test();
    return 0;
}
