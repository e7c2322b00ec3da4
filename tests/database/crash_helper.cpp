// Inserts samples into the database in DIR through a record store and writes
// the number of every insert that has returned to stdout, until it is killed.
#include "database/RecordStore.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: database_crash_helper DIR\n");
        return 2;
    }
    try {
        RecordStore module(QString::fromLocal8Bit(argv[1]));
        for (int i = 1;; ++i) {
            module.InsertSample({1, 1, i, 1000 + i, 50, 0});
            std::printf("%d\n", i);
            std::fflush(stdout);
        }
    } catch (const DatabaseError &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
