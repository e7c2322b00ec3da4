#!/bin/sh
# Kills braskon-cli run against braskon-sim at random moments many times and
# checks the records after every kill (the suite does 20).
#   scripts/kill-test.sh [ROUNDS]   (default 200; build treatment_tests first)
set -e
cd "$(dirname "$0")/.."
BRASKON_KILL_ROUNDS="${1:-200}" exec build/bin/treatment_tests \
    --gtest_filter='RecoveryTest.KilledAtRandomMomentsLeavesSoundRecords'
