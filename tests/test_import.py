import quillfern


def test_package_imports():
    assert quillfern._quillfern.__name__ == "quillfern._quillfern"
