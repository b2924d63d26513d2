"""What the build's generators share: a header written only when its text
changed, so that an unchanged one does not rebuild everything that includes it."""


def write_if_changed(target, content):
    try:
        with open(target, encoding="utf-8") as f:
            if f.read() == content:
                return
    except OSError:
        pass
    with open(target, "w", encoding="utf-8") as f:
        f.write(content)
