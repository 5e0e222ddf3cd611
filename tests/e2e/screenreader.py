#!/usr/bin/python3
"""The program as a screen reader meets it, through AT-SPI alone: no keys, no
mouse. screenreader.py PID LANGUAGE RU_TS, run by tst_screenreader.cpp while
the program (of that process id, with --testing and the served sample
catalogue) shows its first page. On every page it finds every control a user
acts on, each with a role, a name in the program's language and an action;
sees Qt's own file dialog speak that language too; goes from the catalogue
through a failed write ("Fails"), a finished one
("Okay") and the restore of the written drive; and reads the texts that
matter. Exits 0 when all held; otherwise says what failed and what was shown."""
import sys
import time
import xml.etree.ElementTree as ElementTree

import pyatspi

PID, LANGUAGE, CATALOGUE = int(sys.argv[1]), sys.argv[2], sys.argv[3]
CONTROLS = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_RADIO_BUTTON,
            pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_LIST_ITEM}
ACTIONS = ('Press', 'Toggle')
TEXTS = {pyatspi.ROLE_LABEL, pyatspi.ROLE_STATIC}
ROLE_NAMES = {pyatspi.ROLE_PUSH_BUTTON: 'button', pyatspi.ROLE_CHECK_BOX: 'check box',
              pyatspi.ROLE_RADIO_BUTTON: 'radio button', pyatspi.ROLE_COMBO_BOX: 'list box',
              pyatspi.ROLE_LIST_ITEM: 'row', pyatspi.ROLE_PAGE_TAB: 'page', pyatspi.ROLE_DIALOG: 'dialog'}

# Qt's own file dialog, in the program's language through Qt's catalogues.
QT_FILE_DIALOG_BUTTONS = {'en': ('Open', 'Cancel'), 'ru': ('Открыть', 'Отмена')}[LANGUAGE]

TRANSLATIONS = {}
if LANGUAGE == 'ru':
    for context in ElementTree.parse(CATALOGUE).getroot().iter('context'):
        for message in context.iter('message'):
            TRANSLATIONS[(context.findtext('name'), message.findtext('source'))] = message.findtext('translation')


def tr(context, text):
    """The text as the program shows it; in Russian, a text without its translation is a failure."""
    if LANGUAGE != 'ru':
        return text
    if (context, text) not in TRANSLATIONS:
        fail('no Russian text for %s "%s"' % (context, text))
    return TRANSLATIONS[(context, text)]


class Failure(Exception):
    pass


def fail(message):
    raise Failure(message)


def application():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == PID:
            return app
    return None


def shown(node, everything=False):
    """The node and what it holds, as far as it is on the screen (hidden pages and dialogs are not);
    with everything, also what is scrolled out of sight."""
    if not everything and node.getRole() != pyatspi.ROLE_APPLICATION \
            and not node.getState().contains(pyatspi.STATE_SHOWING):
        return
    yield node
    for child in node:
        if child is not None:
            yield from shown(child, everything)


def describe(node):
    return '%s "%s" (%s)' % (node.getRoleName(), node.name, node.description)


def screen():
    app = application()
    return '\n'.join('  ' + describe(node) for node in shown(app)) if app else '  (no application)'


def wait(look, what, timeout=60):
    """Whatever look() returns once it is something; a failure when it never is."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            found = look()
            if found:
                return found
        except Exception:  # the tree changes under the look: look again
            pass
        time.sleep(0.2)
    fail('%s never came; on the screen:\n%s' % (what, screen()))


def find(role, name, root=None, enabled=True, exact=True):
    """The first shown node of the role (or of the roles) whose name is (or, not exact, starts with) the name."""
    roles = role if isinstance(role, set) else {role}

    def look():
        for node in shown(root or application()):
            if node.getRole() in roles and (node.name == name if exact else node.name.startswith(name)) \
                    and (not enabled or node.getState().contains(pyatspi.STATE_ENABLED)):
                return node
        return None
    return wait(look, '%s "%s"' % ('text' if isinstance(role, set) else ROLE_NAMES.get(role, role), name))


def action(node):
    """The index of the node's press or toggle action, None when it has none."""
    try:
        actions = node.queryAction()
    except NotImplementedError:
        return None
    return next((i for i in range(actions.nActions) if actions.getName(i) in ACTIONS), None)


def act(node):
    index = action(node)
    if index is None or not node.queryAction().doAction(index):
        fail('cannot act on ' + describe(node))


def press(role, name, root=None, exact=True):
    act(find(role, name, root, exact=exact))


def text(name, root=None, exact=True):
    """A text the page shows, read through AT-SPI."""
    return find(TEXTS, name, root, enabled=False, exact=exact)


def start(context, source, value):
    """The beginning of a translated text with %1, up to and including the value."""
    return tr(context, source).split('%1')[0] + value


def page(heading, *controls):
    """The page of that heading, with the controls (role, name) and every other one named and actionable."""
    find(pyatspi.ROLE_PAGE_TAB, heading, enabled=False)
    for role, name in controls:
        find(role, name, enabled=False)
    for node in shown(application()):
        if node.getRole() in CONTROLS and (not node.name.strip() or action(node) is None):
            fail('on "%s" a control without a name or an action: %s' % (heading, describe(node)))


def choose(box, row):
    """Opens the list box through its action and chooses the row that starts with the text."""
    press(pyatspi.ROLE_COMBO_BOX, box)
    # Rows out of sight are there too, and are chosen as they are.
    popup = find(pyatspi.ROLE_DIALOG, box, enabled=False)
    rows = wait(lambda: [node for node in shown(popup, True) if node.getRole() == pyatspi.ROLE_LIST_ITEM
                         and node.name.startswith(row)] and
                [node for node in shown(popup, True) if node.getRole() == pyatspi.ROLE_LIST_ITEM],
                'a row "%s" in "%s"' % (row, box))
    for node in rows:
        if not node.name or action(node) is None:
            fail('a row of "%s" without a name or an action: %s' % (box, describe(node)))
    item = next(node for node in rows if node.name.startswith(row))
    name = item.name
    act(item)
    wait(lambda: find(pyatspi.ROLE_COMBO_BOX, box).description == name, '"%s" showing %s' % (box, name))
    return name


def gone(role, name):
    wait(lambda: not any(node.getRole() == role and node.name == name for node in shown(application())),
         '%s "%s" gone' % (ROLE_NAMES.get(role, role), name))


def checked(role, name):
    return find(role, name).getState().contains(pyatspi.STATE_CHECKED)


def confirm_erase(drive, size):
    """The erase confirmation names the drive and its size; answered with the button of that name."""
    dialog = find(pyatspi.ROLE_DIALOG, tr('DeviceWarningDialog', 'Erase confirmation'), enabled=False)
    text(drive, root=dialog)
    body = text(start('DeviceWarningDialog', 'Attention! All data on the device (including %1) will be permanently '
                      'deleted. The selected image will be recorded in their place. Continue?', ''),
                root=dialog, exact=False)
    shown_size = tr('DeviceWarningDialog', '%1 GB').replace('%1', size)
    if shown_size not in body.name or shown_size not in dialog.description:
        fail('the erase confirmation does not say %s: %s' % (shown_size, describe(dialog)))
    find(pyatspi.ROLE_PUSH_BUTTON, tr('DeviceWarningDialog', 'Cancel'), root=dialog)
    return dialog


def road():
    wait(application, 'the application on the accessibility bus')
    back = (pyatspi.ROLE_PUSH_BUTTON, tr('FramedPage', 'Back'))
    button = lambda context, name: (pyatspi.ROLE_PUSH_BUTTON, tr(context, name))

    # The first page, once the catalogue is in and the live drive is there.
    page(tr('MainPage', 'Writing images to USB Flash'), button('MainPage', 'Select from device'),
         button('MainPage', 'Restore USB Flash'))
    text(tr('MainPage', 'Selecting an image source'))
    press(pyatspi.ROLE_PUSH_BUTTON, tr('MainPage', 'Select from device'))
    page(tr('DrivePage', 'Recording Parameter'), back, button('DrivePage', 'Select...'),
         (pyatspi.ROLE_COMBO_BOX, tr('DriveList', 'Device')), button('DrivePage', 'Continue'))
    # Qt's own dialog, left by the page's back arrow (its buttons do not act through AT-SPI in Qt 6.4),
    # which must take it along.
    press(*button('DrivePage', 'Select...'))
    for name in QT_FILE_DIALOG_BUTTONS:
        find(pyatspi.ROLE_PUSH_BUTTON, name, enabled=False)
    press(*back)
    gone(pyatspi.ROLE_PUSH_BUTTON, QT_FILE_DIALOG_BUTTONS[1])

    press(pyatspi.ROLE_PUSH_BUTTON, tr('MainPage', 'Download from the website'))
    editions = [button('EditionsModel', name) for name in
                ('Standard edition', 'Certified edition', 'Home edition', 'Educational edition')]
    page(tr('EditionsPage', "Editions' choice"), back, *editions)
    press(*editions[1])
    page(tr('CertPage', 'Recording Parameter'), back, button('CertPage', 'Open on the website'))
    text(tr('CertPage', 'Certified edition'))
    press(*back)
    press(*editions[0])

    # Version, architecture, image, drive.
    radio = lambda name: (pyatspi.ROLE_RADIO_BUTTON, name)
    versions = [radio(tr('VersionPage', 'Zelvan 8.0')), radio(tr('VersionPage', 'Zelvan 7.3'))]
    architectures = [radio(tr('ReleaseArchitecture', 'x86_64')), radio(tr('ReleaseArchitecture', 'AArch64'))]
    page(tr('VersionPage', 'Recording Parameter'), back, *versions, *architectures,
         (pyatspi.ROLE_COMBO_BOX, tr('VersionPage', 'Image')),
         (pyatspi.ROLE_CHECK_BOX, tr('VersionPage', 'Delete download after writing')),
         (pyatspi.ROLE_COMBO_BOX, tr('DriveList', 'Device')), button('VersionPage', 'Continue'))
    text(tr('EditionsModel', 'Standard edition'))
    for choice in (versions[1], versions[0], architectures[1], architectures[0]):
        press(*choice)
        wait(lambda: checked(*choice), '%s checked' % choice[1])
    eraser = (pyatspi.ROLE_CHECK_BOX, tr('VersionPage', 'Delete download after writing'))
    for state in (True, False):
        press(*eraser)
        wait(lambda: checked(*eraser) == state, '"%s" %s' % (eraser[1], 'checked' if state else 'cleared'))
    image = choose(tr('VersionPage', 'Image'), 'Zelvan 8.0 Server')
    choose(tr('DriveList', 'Device'), 'Fails')
    press(*button('VersionPage', 'Continue'))

    # Downloaded, then written to the drive that fails.
    write = button('DownloadPage', 'Write')
    find(*write)
    text(start('DownloadPage', 'Ready to write %1', image), exact=False)
    text(tr('DownloadPage', 'The USB drive has been found, and it is possible to continue recording the image '
                            'to the device.'))
    find(*button('DownloadPage', 'Show in folder'))
    press(*write)
    press(*button('DeviceWarningDialog', 'Write'), root=confirm_erase('Fails (9.9 GB)', '9.88'))
    # The simulated drive's own error text, as the variant reports it.
    text('Some error string.')
    press(*button('DownloadPage', 'Retry'))
    press(*button('DeviceWarningDialog', 'Cancel'), root=confirm_erase('Fails (9.9 GB)', '9.88'))

    # Written to the drive that takes it, with a look at the cancel question on the way.
    choose(tr('DriveList', 'Device'), 'Okay')
    press(*write)
    press(*button('DeviceWarningDialog', 'Write'), root=confirm_erase('Okay (12.3 GB)', '12.35'))
    text(start('DownloadPage', 'Writing %1', image), exact=False)
    press(*button('DownloadPage', 'Cancel'))
    question = find(pyatspi.ROLE_DIALOG, tr('CancelDialog', 'Cancel Writing?'), enabled=False)
    find(*button('CancelDialog', 'Abort'), root=question)
    press(*button('CancelDialog', 'Cancel'), root=question)
    finish = button('DownloadPage', 'Finish')
    find(*finish)
    text(tr('DownloadPage', '%1 Successfully Written').replace('%1', image))
    press(*finish)

    # The written drive restored.
    press(pyatspi.ROLE_PUSH_BUTTON, tr('MainPage', 'Restore USB Flash'))
    page(tr('RestorePage', 'Restore %1').replace('%1', 'Okay (12.3 GB)'), back, button('RestorePage', 'Restore'))
    press(*button('RestorePage', 'Restore'))
    text(tr('RestorePage', 'Restoring finished'))
    press(*button('RestorePage', 'Finish'))
    page(tr('MainPage', 'Writing images to USB Flash'), button('MainPage', 'Select from device'))


try:
    road()
except Failure as failure:
    print('screenreader (%s): %s' % (LANGUAGE, failure))
    sys.exit(1)
print('screenreader (%s): every page and control reached' % LANGUAGE)
