import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))


def pytest_report_header(config):
    import qel_kernel

    return f"qel_kernel: {qel_kernel.__file__}"


@pytest.fixture(scope="session", autouse=True)
def _right_build():
    # The test command runs the suite against two builds; make sure each run
    # really imports the one it means to.
    import qel_kernel

    expect = os.environ.get("QEL_EXPECT_BUILD")
    if expect == "installed":
        assert "site-packages" in qel_kernel.__file__ or "dist-packages" in qel_kernel.__file__
    elif expect:
        assert os.path.realpath(qel_kernel.__file__).startswith(os.path.realpath(expect))
