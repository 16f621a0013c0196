// Quenfell: reads the downloaded log of an electric car and reports drives, charges and battery data.
#include "driver/options.h"

int main(int argc, char** argv)
{
    return QuenfellMain(argc, argv);
}
