#!/usr/bin/python3
"""The rollouts' panel of the fleet page as an operator meets it in a real browser.

headless Chromium, driven through chromedriver, starts a rollout with the panel's form, sees it
halted by itself once a register reports that the candidate crashed, and undoes it with the
panel's button. Usage: rollout_browser_test.py JOV_APPSERVER JOV_SIGN [PICTURE.png], PICTURE
being where the page with the halted rollout is pictured. Exits 77 (skipped) when chromium,
chromedriver or selenium are missing, 0 when every check holds, 1 otherwise.
"""

import base64
import json
import os
import re
import subprocess
import sys
import tempfile
import urllib.request
import zipfile

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
TOKEN = "browser-rollout-token-0123"
SKIPPED = 77
WAIT_SECONDS = 30

try:
    from cryptography.hazmat.primitives import serialization
    from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support import expected_conditions
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError as missing:
    print(f"skipped: {missing}")
    sys.exit(SKIPPED)


def run(argv, folder):
    """Runs a program of ours to its end (at most 30 s); raises when it fails."""
    subprocess.run(argv, cwd=folder, check=True, timeout=30, stdout=subprocess.DEVNULL)


def archive(path, program):
    """A zip archive holding JovTab.exe with these bytes."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with zipfile.ZipFile(path, "w") as out:
        out.writestr("JovTab.exe", program)


def signed(obj, key, counter):
    """The object's text signed as a register signs it: key, counter, then the signature."""
    raw = key.public_key().public_bytes(serialization.Encoding.Raw, serialization.PublicFormat.Raw)
    obj = dict(obj, key=base64.b64encode(raw).decode(), counter=counter)
    text = json.dumps(obj, separators=(",", ":"))
    signature = base64.b64encode(key.sign(text.encode())).decode()
    return text[:-1] + ',"signature":"' + signature + '"}'


def call(port, method, text):
    """POSTs the text as the one argument of the register's call; returns the status."""
    request = urllib.request.Request(
        f"http://127.0.0.1:{port}/lum.rdmAtualizaEstrutura/{method}",
        data=json.dumps([text]).encode(),
        headers={"Content-Type": "application/json"})
    with urllib.request.urlopen(request, timeout=WAIT_SECONDS) as answer:
        return answer.status


def start_server(appserver, folder):
    """jov-appserver on a free loopback port, its fleet and rollouts in folder."""
    token = os.path.join(folder, "token")
    with open(os.open(token, os.O_WRONLY | os.O_CREAT, 0o600), "w") as out:
        out.write(TOKEN)
    server = subprocess.Popen(
        [appserver, "--bind", "127.0.0.1", "--port", "0", "--updates",
         os.path.join(folder, "updates"), "--fleet-db", os.path.join(folder, "fleet.db"),
         "--fleet-token", token, "--signing-key", os.path.join(folder, "chain-key.pem"),
         "--report-interval", "0"],
        stdout=subprocess.PIPE, stderr=open(os.path.join(folder, "appserver.log"), "wb"),
        text=True)
    line = server.stdout.readline()  # the server prints it once it listens
    match = re.match(r"listening on 127\.0\.0\.1:(\d+)", line)
    if not match:
        server.kill()
        raise RuntimeError("jov-appserver did not start: " + line)
    return server, int(match.group(1))


def browser(folder):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                     "--disable-dev-shm-usage", "--hide-scrollbars", "--window-size=1600,900",
                     "--user-data-dir=" + os.path.join(folder, "profile")):
        options.add_argument(argument)
    service = Service(executable_path=CHROMEDRIVER, log_path=os.path.join(folder, "driver.log"))
    return webdriver.Chrome(service=service, options=options)


def state(driver):
    """The state text of the one rollout card, once the panel shows one."""
    return WebDriverWait(driver, WAIT_SECONDS).until(
        expected_conditions.presence_of_element_located(
            (By.CSS_SELECTOR, "#implantacoes section.rollout .estado"))).text


def click(driver, label):
    """Clicks the panel's button of that label and waits for the page it leads to."""
    button = driver.find_element(By.XPATH, f"//section[@id='implantacoes']//button[.='{label}']")
    button.click()
    WebDriverWait(driver, WAIT_SECONDS).until(expected_conditions.staleness_of(button))


def main():
    if not (os.access(CHROMIUM, os.X_OK) and os.access(CHROMEDRIVER, os.X_OK)):
        print("skipped: chromium and chromedriver are needed")
        return SKIPPED
    appserver, sign = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    failures = []

    def check(holds, what):
        if not holds:
            failures.append(what)

    with tempfile.TemporaryDirectory(prefix="rollout-browser-") as folder:
        run([sign, "keygen", "chain-key.pem"], folder)
        archive(os.path.join(folder, "updates", "JovTab.exe.zip"), b"released build")
        candidate = os.path.join(folder, "updates", "candidatos", "JovTab.exe.zip")
        archive(candidate, b"crashing build")
        run([sign, "sign", "chain-key.pem", "--version", "2", candidate], folder)
        server, port = start_server(appserver, folder)
        driver = None
        try:
            driver = browser(folder)
            page = f"http://127.0.0.1:{port}/fleet?token={TOKEN}"
            driver.get(page)
            form = driver.find_element(By.XPATH, "//form[.//button[.='Iniciar']]")
            Select(form.find_element(By.NAME, "file")).select_by_visible_text("JovTab.exe")
            for name, value in (("waves", "0001 100%"), ("halt_at", "0.05"),
                                ("soak_minutes", "60")):
                field = form.find_element(By.NAME, name)
                field.clear()
                field.send_keys(value)
            click(driver, "Iniciar")
            check(state(driver) == "em andamento", "the started rollout runs")
            check("Onda 1 de 2: 0001" in driver.page_source, "the form's waves were taken")

            # A register of the first wave installs the candidate, then it crashes.
            key = Ed25519PrivateKey.generate()
            report = {"filial": "0001", "caixa": "001", "host": "caixa-0001-001",
                      "launcher": "2.1.0", "started": "2026-12-09T08:00:00-03:00",
                      "seconds": 1.25, "outcome": "installed", "installed": ["JovTab.exe"],
                      "failure": None,
                      "files": [{"name": "JovTab.exe", "stamp": "20261201000000", "size": 14,
                                 "sha256": "a" * 64, "version": 2}]}
            check(call(port, "ReportUpdate", signed(report, key, 1)) == 200, "report taken")
            crash = {"filial": "0001", "caixa": "001", "host": "caixa-0001-001",
                     "name": "JovTab.exe", "version": 2, "stamp": "20261201000000",
                     "signal": 11, "exit": None, "seconds": 0.5,
                     "at": "2026-12-09T08:01:00-03:00"}
            check(call(port, "ReportHealth", signed(crash, key, 2)) == 200, "crash taken")

            driver.get(page)
            check(state(driver) == "interrompida", "the crash halted the rollout")
            check("0001/001: JovTab.exe terminou pelo sinal 11" in driver.page_source,
                  "the crash is the reason shown")
            if len(sys.argv) > 3:
                check(driver.save_screenshot(sys.argv[3]), "the page is pictured")
            click(driver, "Desfazer")
            check(state(driver) == "desfeita", "the undo button undid it")
            check(not driver.find_elements(By.XPATH, "//button[.='Desfazer']"),
                  "an undone rollout offers no undo")
            check(os.path.exists(os.path.join(folder, "updates", "desfeitos",
                                              "JovTab.exe.zip.release.sig")),
                  "the release that undoes it is signed")
        except Exception as error:  # a wait that ran out, a page without the element
            failures.append(f"{type(error).__name__}: {error}")
        finally:
            if driver is not None:
                driver.quit()
            server.terminate()
            try:
                server.wait(timeout=10)
            except subprocess.TimeoutExpired:
                server.kill()
                server.wait()
            if failures:
                sys.stdout.write(open(os.path.join(folder, "appserver.log")).read())
    for failure in failures:
        print("FAILED: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
