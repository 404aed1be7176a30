/* Drains the time-stamp store of board 0 and says how that went. */
#include <brdlink.h>
#include <stdio.h>

int main(void)
{
    int rc = HW_GetTsData();
    printf("HW_GetTsData: %d\n", rc);
    return rc;
}
